-- SET AUTODDL OFF and ON with DDL, DML and COMMIT in between: DDL runs in
-- the main transaction while it is off, and the transaction isql compiles
-- and runs DDL in is started only while it is on.
create sequence tx_seq;
create table tx_log (n integer, iso varchar(20), what varchar(60));
set term ^;
create trigger tx_start on transaction start as
begin
  insert into tx_log (n, iso, what)
    values (next value for tx_seq, rdb$get_context('SYSTEM', 'ISOLATION_LEVEL'), 'start');
end^
set term ;^
commit;
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
