create table t (a integer, b varchar(5));
set heading off;
insert into t values (1, 'a');
select * from t;
set width b 3;
set width b;
set heading on;
commit;
