create table eb (n integer);
set term ^ ;
execute block as
declare i integer = 0;
begin
  while (i < 5) do
  begin
    insert into eb values (:i);
    i = i + 1;
  end
end^
execute block returns (s integer) as
begin
  select sum(n) from eb into s;
  suspend;
end^
set term ; ^
commit;
