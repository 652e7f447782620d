create table t (a integer);
insert into t values (1);
connect 'missing.fdb' user 'SYSDBA';
insert into t values (2);
insert into t values (3);
connect 'db.fdb' user 'SYSDBA';
insert into t values (4);
