create table test (key integer not null primary key, ref integer);
create table other (id integer);
insert into test (key, ref) values (1, -1);
commit;
alter table test add constraint fk_key_ref foreign key (ref) references test (key);
insert into other values (42);
insert into other values (43);
commit;
