-- QUIT rolls back both transactions: the start logged by the one isql
-- compiles in is gone too.
input 'parts/tx-log.sql';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'rolled back');
create table t (a integer);
insert into t values (1);
quit;
