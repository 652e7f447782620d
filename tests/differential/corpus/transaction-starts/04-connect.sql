-- CONNECT rolls back the main transaction, commits the other and attaches
-- anew, with the transactions isql starts at attachment (one fewer while
-- AUTODDL is off).
input 'parts/tx-log.sql';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'rolled back');
connect 'db.fdb' user 'SYSDBA';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'first attachment');
commit;
connect 'db.fdb' user 'SYSDBA';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'second attachment');
set autoddl off;
connect 'db.fdb' user 'SYSDBA';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'autoddl off');
create table t (a integer);
set autoddl on;
connect 'db.fdb' user 'SYSDBA';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'autoddl on again');
