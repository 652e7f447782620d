create table dept (id integer not null primary key, name varchar(20));
create table emp (id integer not null primary key, dept_id integer references dept (id) on delete cascade);
insert into dept values (1, 'Sales');
insert into emp values (10, 1);
insert into emp values (11, 2);
commit;
delete from dept where id = 1;
commit;
