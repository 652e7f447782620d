create table test (key integer not null primary key, ref integer);
commit;
insert into test values (1, -1);
alter table test add constraint fk_key_ref foreign key (ref) references test (key);
insert into test values (2, 1);
commit;
