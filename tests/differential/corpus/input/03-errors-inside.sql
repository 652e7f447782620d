create table t (a integer);
input 'parts/with-errors.sql';
insert into t values (9);
commit;
