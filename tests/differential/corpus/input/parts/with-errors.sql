insert into t values (1);
insert into t values ('x');
insert into missing values (1);
