create table out1 (v integer);
set term ^ ;
create procedure outer_p as
  declare procedure inner_p (a integer) returns (b integer) as
  begin
    b = a + 1;
  end
  declare x integer;
begin
  execute procedure inner_p(41) returning_values :x;
  insert into out1 values (:x);
end^
set term ; ^
execute procedure outer_p;
commit;
