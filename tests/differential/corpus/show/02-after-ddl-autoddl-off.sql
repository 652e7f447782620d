-- With AUTODDL off, DDL stays in the main transaction until COMMIT: SHOW does
-- not see it before (each SHOW below fails, as in isql), sees it after, and
-- does not see what a ROLLBACK took back.
set autoddl off;
create table t (a integer);
show table t;
create view v as select a from t;
show view v;
set term ^;
create procedure p (x integer) returns (y integer) as
begin
  y = x;
  suspend;
end^
set term ;^
show procedure p;
commit;
show table t;
show view v;
show procedure p;
create table u (a integer);
drop view v;
show table u;
show view v;
rollback;
show table u;
show view v;
set autoddl on;
create table w (a integer);
show table w;
insert into t values (1);
commit;
