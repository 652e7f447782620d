create table t (a integer);
create table t (b integer);
create index ix on t (a);
create index ix on t (a);
create domain d integer;
create domain d varchar(1);
alter table t drop nosuch;
commit;
