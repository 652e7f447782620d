-- SET AUTODDL OFF and ON with DDL, DML and COMMIT in between: DDL runs in
-- the main transaction while it is off, and the transaction isql compiles
-- and runs DDL in is started only while it is on.
input 'parts/tx-log.sql';
set autoddl off;
create table t (a integer);
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'autoddl off');
commit;
insert into t values (1);
create table u (a integer);
rollback;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after rollback');
set autoddl on;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'autoddl on');
create table v (a integer);
insert into v values (1);
set autoddl off;
commit;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'off after commit');
set autoddl on;
create table w (a integer);
commit;
