set sql dialect 3;
create table t (a varchar(10));
insert into t values ('x');
set warnings off;
set bail off;
commit;
