set term ^ ;
create package p1 as begin function f returns integer; end^
create package body p1 as begin function f returns integer as begin return 1; end end^
create or alter package p1 as begin function f returns integer; function g returns integer; end^
recreate package body p1 as begin
  function f returns integer as begin return 10; end
  function g returns integer as begin return 20; end
end^
create package p2 as begin procedure x; end^
set term ; ^
create table pk3 (v integer);
insert into pk3 values (p1.f() + p1.g());
drop package p2;
commit;
