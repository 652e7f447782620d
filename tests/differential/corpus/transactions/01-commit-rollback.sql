create table t (a integer);
insert into t values (1);
commit;
insert into t values (2);
rollback;
insert into t values (3);
commit work;
insert into t values (4);
rollback work;
