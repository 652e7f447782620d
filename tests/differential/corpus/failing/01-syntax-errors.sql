create table t (a integer);
selec 1 from rdb$database;
insert into t values (1);
insert int t values (2);
commit;
