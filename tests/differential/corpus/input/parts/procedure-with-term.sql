set term ^ ;
create procedure fill_t as
begin
  insert into t values (5);
end^
set term ; ^
