create table t (a integer);
insert into t values (1);
select * from t;
select count(*) from rdb$relations;
select a, a * 2 as twice from t where a > 0 order by 1;
commit;
