set autoddl off;
create table t (a integer);
set autoddl on;
create table u (b integer);
insert into u values (1);
rollback;
insert into u values (2);
commit;
