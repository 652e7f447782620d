create table t (a integer);
insert into nowhere values (1);
select nothing from t;
execute procedure no_proc;
insert into t values (1);
commit;
