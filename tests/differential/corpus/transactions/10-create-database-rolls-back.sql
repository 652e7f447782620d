create table t (a integer);
insert into t values (1);
create database 'other.fdb' user 'SYSDBA';
create table elsewhere (b integer);
connect 'db.fdb' user 'SYSDBA';
insert into t values (2);
