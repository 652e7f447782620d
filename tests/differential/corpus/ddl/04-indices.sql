create table person (id integer not null, last_name varchar(30), first_name varchar(30));
create index ix_person_name on person (last_name, first_name);
create unique descending index ux_person_id on person (id);
insert into person values (1, 'Ivanov', 'Ivan');
insert into person values (1, 'Petrov', 'Petr');
alter index ix_person_name inactive;
commit;
