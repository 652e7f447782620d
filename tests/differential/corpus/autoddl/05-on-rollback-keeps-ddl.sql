create table t (a integer);
insert into t values (1);
rollback;
create table u (b integer);
insert into u values (1);
rollback;
insert into t values (2);
commit;
