-- Every transaction start is logged by a trigger that writes, and every data
-- statement logs how many starts came before it: the log must read the same
-- after the run as after isql's.
input 'parts/tx-log.sql';
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'dml');
select count(*) from tx_log;
create table t (a integer);
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after create');
insert into t values (1);
select * from t;
commit;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after commit');
rollback;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after rollback');
commit retain;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after commit retain');
rollback retain;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after rollback retain');
set term ^;
execute block as begin insert into t values (2); end^
set term ;^
savepoint s1;
update t set a = 3 where a = 1;
rollback to savepoint s1;
commit;
commit;
rollback;
set count on;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'counted');
set count off;
alter table t add b integer;
create index t_a on t (a);
set generator tx_seq to 100;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'at the end');
