create table t (a integer);
insert into t values (1);
commit;
insert into t values ('unterminated);
