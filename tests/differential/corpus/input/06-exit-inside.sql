create table t (a integer);
input 'parts/exit-early.sql';
insert into t values (2);
