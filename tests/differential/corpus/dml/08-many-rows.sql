create table nums (n integer);
insert into nums select rdb$relation_id from rdb$relations where rdb$relation_id < 20;
update nums set n = n + 1000;
insert into nums values (1);
insert into nums values (2);
delete from nums where n > 1015;
commit;
