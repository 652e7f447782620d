set autoddl;
create table t (a integer);
rollback;
set autoddl;
create table u (b integer);
insert into u values (1);
set auto on;
insert into t values (1);
commit;
