-- SET TRANSACTION rolls back the main transaction, commits the one isql
-- compiles in and starts its own; a read-only one cannot start while the
-- trigger writes, and the next statement starts a default one.
input 'parts/tx-log.sql';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'rolled back');
set transaction read committed;
insert into tx_log (n, iso, what)
  values (gen_id(tx_seq, 0), rdb$get_context('SYSTEM', 'ISOLATION_LEVEL'), 'read committed');
create table t (a integer);
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after create');
commit;
set transaction;
set transaction snapshot;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'snapshot');
commit;
set transaction read only;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after read only');
set transaction wait;
commit;
