create table t (a integer);
input parts/nested-outer.sql;
input "../input/parts/insert-rows.sql";
commit;
