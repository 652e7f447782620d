create table t (a integer);
insert into t values (1);
commit retain;
insert into t values (2);
rollback retain;
insert into t values (3);
commit work retain;
insert into t values (4);
rollback;
