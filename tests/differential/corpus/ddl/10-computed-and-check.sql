create table box (w integer, h integer, area computed by (w * h), check (w > 0));
insert into box (w, h) values (2, 3);
insert into box (w, h) values (0, 3);
create global temporary table gtt (a integer) on commit preserve rows;
commit;
