create table t (a integer);
insert into t values (1);
commit;
insert into t values (2);
set bail on;
insert into t values ('x');
insert into t values (3);
