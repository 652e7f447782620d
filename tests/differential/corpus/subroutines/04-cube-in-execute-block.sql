create table out4 (v integer);
set term ^ ;
execute block as
  declare function cube (a integer) returns integer as
  begin
    return a * a * a;
  end
begin
  insert into out4 values (cube(3));
end^
set term ; ^
commit;
