create table t (a integer);
insert into t values (1);
alter table t add b integer;
insert into t values (2, 3);
create index ix_t on t (a);
insert into t values (3, 4);
commit;
