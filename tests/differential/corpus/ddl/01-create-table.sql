create table customer (
  id integer not null primary key,
  name varchar(40) not null,
  city varchar(30) default 'Moscow',
  created date default '2024-01-01');
insert into customer (id, name) values (1, 'Anna');
insert into customer (id, name, city) values (2, 'Boris', null);
commit;
