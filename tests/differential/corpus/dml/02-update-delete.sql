create table stock (id integer, qty integer);
insert into stock values (1, 10);
insert into stock values (2, 20);
insert into stock values (3, 30);
update stock set qty = qty * 2 where id >= 2;
delete from stock where qty = 40;
update stock set qty = null where id = 1;
commit;
