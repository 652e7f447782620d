set term ^ ;
create package bad as begin procedure x; end^
create package body bad as begin procedure y as begin end end^
set term ; ^
create table pk5 (v integer);
insert into pk5 values (5);
commit;
