set autoddl off;
create table t (a integer);
create table u (b integer);
rollback;
create table v (c integer);
commit;
insert into v values (1);
commit;
