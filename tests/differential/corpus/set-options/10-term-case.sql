create table t (a varchar(10));
SET TERM go ;
insert into t values ('one')go
SeT tErM ; go
insert into t values ('two');
commit;
