create table item (id integer not null, title varchar(20));
insert into item values (1, 'first');
commit;
alter table item add qty integer default 5;
alter table item add constraint pk_item primary key (id);
alter table item alter column title type varchar(50);
alter table item drop qty;
insert into item values (2, 'second, now longer than twenty characters');
commit;
