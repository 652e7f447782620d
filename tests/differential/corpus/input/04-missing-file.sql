create table t (a integer);
input 'parts/no-such-file.sql';
insert into t values (1);
commit;
