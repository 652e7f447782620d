set term ^ ;
create package body lonely as begin procedure x as begin end end^
set term ; ^
create table pk4 (v integer);
insert into pk4 values (1);
commit;
