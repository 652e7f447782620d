create table src (id integer, v varchar(10));
create table dst (id integer, v varchar(10));
insert into src values (1, 'one');
insert into src values (2, 'two');
insert into src values (3, null);
insert into dst select * from src where id > 1;
commit;
