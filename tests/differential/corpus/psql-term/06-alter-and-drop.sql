set term ^ ;
create procedure p returns (x integer) as begin x = 1; suspend; end^
alter procedure p returns (x integer) as begin x = 2; suspend; end^
create or alter procedure p2 returns (x integer) as begin x = 3; suspend; end^
recreate procedure p3 as begin end^
set term ; ^
create table r (x integer);
insert into r select x from p;
insert into r select x from p2;
drop procedure p3;
commit;
