create table t (a integer);
input 'parts/nested-outer.sql';
insert into t values (100);
commit;
