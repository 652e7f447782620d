set bail on;
create table t (a integer);
insert into t values (1);
commit;
create table t (b integer);
insert into t values (2);
commit;
