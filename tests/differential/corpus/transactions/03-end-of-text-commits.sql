create table t (a integer);
insert into t values (1);
insert into t values (2);
