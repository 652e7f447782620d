set term ^ ;
create procedure broken as
begin
  insert into no_such_table values (1);
end^
create procedure fine as
begin
end^
create procedure typo as
begn
end^
set term ; ^
commit;
