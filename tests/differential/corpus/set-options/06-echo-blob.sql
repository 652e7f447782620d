set echo on;
create table t (b blob sub_type text);
insert into t values ('blob text');
set blob all;
select * from t;
set blobdisplay 1;
set blob off;
set echo off;
commit;
