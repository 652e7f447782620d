create table t (a integer, s varchar(3), d date);
insert into t (a) values ('abc');
insert into t (s) values ('toolong');
insert into t (d) values ('2023-02-30');
insert into t (a) values (1 / 0);
insert into t values (5, 'ok', '2023-02-28');
commit;
