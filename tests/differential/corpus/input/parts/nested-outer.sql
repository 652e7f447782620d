insert into t values (10);
input 'nested-inner.sql';
insert into t values (30);
