create table t (a integer);
set autoddl maybe;
set sql dialect 7;
set names;
insert into t values (1);
commit;
