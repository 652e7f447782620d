-- With AUTODDL on, SHOW right after a CREATE (no COMMIT in between) shows
-- the new object: AUTODDL has committed it, and SHOW reads what is
-- committed.
create table t (a integer not null primary key, b varchar(10));
show table t;
create view v as select a, b from t;
show view v;
create domain d_money numeric(12, 2);
show domain d_money;
create sequence s_ids;
show sequence s_ids;
create exception e_bad 'bad';
show exception e_bad;
create index t_b on t (b);
show index t_b;
set term ^;
create procedure p_add (x integer) returns (y integer) as
begin
  y = x + 1;
  suspend;
end^
create function f_twice (x integer) returns integer as
begin
  return x * 2;
end^
create trigger t_bi for t before insert as
begin
  if (new.b is null) then
    new.b = 'none';
end^
set term ;^
show procedure p_add;
show function f_twice;
show trigger t_bi;
insert into t values (1, 'one');
show tables;
show views;
alter table t add c integer;
show table t;
drop view v;
show view v;
insert into t (a, b) values (2, 'two');
