create table journal (entry varchar(40));
create package shop as
begin
  procedure add_entry (e varchar(40));
  function entries returns integer;
end;
create package body shop as
begin
  procedure add_entry (e varchar(40)) as
  begin
    insert into journal values (:e);
  end
  function entries returns integer as
  begin
    return (select count(*) from journal);
  end
end;
execute procedure shop.add_entry('first');
insert into journal values ('count ' || shop.entries());
commit;
