-- The log the scripts of this theme read back: every transaction start
-- writes a row (its number and isolation) from a trigger, as an audit log
-- does; data statements add rows naming how many starts came before them.
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
