create table t (a integer);
input 'parts/insert-rows.sql';
commit;
