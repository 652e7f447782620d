create table t (a integer);
create index ix on t (a);
create generator g;
set generator g to 5;
set statistics index ix;
insert into t values (gen_id(g, 1));
commit;
