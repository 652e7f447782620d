create table q (s varchar(20));
set term !! ;
create procedure p1 as
begin
  insert into q values ('p1; with semicolon');
end!!
set term ; !!
execute procedure p1;
set term ### ;
create procedure p2 as begin insert into q values ('p2'); end###
execute procedure p2###
set term ;###
commit;
