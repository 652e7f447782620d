insert into t values (20);
