-- A DDL trigger that writes in an autonomous transaction: that transaction
-- starts too, with the isolation of the one the DDL runs in.
input 'parts/tx-log.sql';
set term ^;
create trigger ddl_log after any ddl statement as
begin
  in autonomous transaction do
    insert into tx_log (n, iso, what)
      values (gen_id(tx_seq, 0), rdb$get_context('SYSTEM', 'ISOLATION_LEVEL'),
              'ddl ' || rdb$get_context('DDL_TRIGGER', 'OBJECT_NAME'));
end^
set term ;^
commit;
create table t (a integer);
insert into t values (1);
create view v as select a from t;
create table t (a integer);
set autoddl off;
create table u (a integer);
commit;
create domain d integer;
rollback;
set autoddl on;
create domain d integer;
drop view v;
