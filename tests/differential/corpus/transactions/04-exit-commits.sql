create table t (a integer);
insert into t values (1);
exit;
insert into t values (2);
