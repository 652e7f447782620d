-- CONNECT rolls back the main transaction, commits the other and attaches
-- anew, with the transactions isql starts at attachment (one fewer while
-- AUTODDL is off).
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
