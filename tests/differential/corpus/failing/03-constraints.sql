create table t (a integer not null primary key, b integer check (b > 0), c integer unique);
insert into t values (1, 1, 1);
insert into t values (1, 2, 2);
insert into t values (2, 0, 3);
insert into t values (3, 1, 1);
insert into t values (null, 1, 4);
insert into t values (4, 1, 4);
commit;
