-- SHOW reads in a transaction of its own and starts nothing else; under
-- PLANONLY, COMMIT and ROLLBACK do nothing, while SET TRANSACTION and SHOW
-- still run.
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
