create table audit (tbl varchar(10), op char(1));
create table goods (id integer, name varchar(10));
set term ^ ;
create trigger goods_ai for goods after insert position 0 as
begin
  insert into audit values ('goods', 'I');
end^
create trigger goods_bu for goods before update as
begin
  new.name = upper(new.name);
end^
set term ; ^
insert into goods values (1, 'apple');
update goods set name = 'pear' where id = 1;
commit;
