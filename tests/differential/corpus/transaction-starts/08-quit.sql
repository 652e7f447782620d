-- QUIT rolls back both transactions: the start logged by the one isql
-- compiles in is gone too.
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
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'rolled back');
create table t (a integer);
insert into t values (1);
quit;
