insert into t values (1);
insert into t values (2);
