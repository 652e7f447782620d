create table pk_log (v integer);
set term ^ ;
create package calc as
begin
  function twice (a integer) returns integer;
end^
create package body calc as
begin
  function helper (a integer) returns integer as
  begin
    return a + a;
  end
  function twice (a integer) returns integer as
  begin
    return helper(a);
  end
end^
set term ; ^
insert into pk_log values (calc.twice(21));
select calc.helper(1) from rdb$database;
commit;
