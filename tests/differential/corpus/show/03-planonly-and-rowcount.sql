-- SHOW reads the metadata whatever SET PLANONLY and SET ROWCOUNT say: they
-- are about the script's own statements.
create table a (x integer);
create table b (y integer);
set planonly on;
show tables;
show table a;
set planonly off;
set rowcount 1;
show tables;
show table b;
insert into a values (1);
