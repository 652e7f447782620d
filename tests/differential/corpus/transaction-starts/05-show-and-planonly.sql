-- SHOW reads in a transaction of its own and starts nothing else; under
-- PLANONLY, COMMIT and ROLLBACK do nothing, while SET TRANSACTION and SHOW
-- still run.
input 'parts/tx-log.sql';
show table tx_log;
commit;
show tables;
show database;
show version;
show sql dialect;
show table nope;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after show');
create table t (a integer);
show table t;
set planonly on;
commit;
insert into t values (1);
rollback;
show views;
set transaction read committed;
insert into t values (2);
set planonly off;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after planonly');
commit;
