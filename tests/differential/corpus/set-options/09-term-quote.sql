create table t (a integer);
set term '; 
insert into t values (1)';
