create table sale (id integer, amount numeric(10,2));
create view big_sale as select id, amount from sale where amount > 100;
create view sale_total (total) as select sum(amount) from sale;
insert into sale values (1, 50);
insert into sale values (2, 500);
insert into big_sale values (3, 700);
commit;
