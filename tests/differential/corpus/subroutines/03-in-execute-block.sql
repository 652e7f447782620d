create table out3 (v integer);
set term ^ ;
execute block as
  declare function sq (a integer) returns integer as
  begin
    return a * a;
  end
  declare procedure put (a integer) as
  begin
    insert into out3 values (:a);
  end
begin
  execute procedure put(sq(7));
end^
set term ; ^
commit;
