create table t (a integer);
create table seen (n integer);
insert into seen select count(*) from rdb$relations where rdb$relation_name = 'LATER';
create table later (b integer);
insert into later values (1);
insert into seen select count(*) from rdb$relations where rdb$relation_name = 'LATER';
commit;
insert into seen select count(*) from rdb$relations where rdb$relation_name = 'LATER';
commit;
