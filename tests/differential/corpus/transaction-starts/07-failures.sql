-- Failed statements: one that does not compile leaves the transactions
-- open, a failed DDL statement and a failed DDL commit end the one they ran
-- in, a failed COMMIT leaves the main one open.
input 'parts/tx-log.sql';
create table test (key integer not null primary key, ref integer);
insert into test values (1, -1);
commit;
selec 1 from rdb$database;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after syntax error');
create tabl x (a integer);
create table test (a integer);
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after failed ddl');
alter table test add constraint fk_ref foreign key (ref) references test (key);
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'after failed ddl commit');
insert into nope values (1);
insert into test values ('x', 1);
commit;
set autoddl off;
alter table test add constraint fk_ref foreign key (ref) references test (key);
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'never committed');
commit;
set autoddl on;
insert into tx_log (n, what) values (gen_id(tx_seq, 0), 'never committed either');
commit;
