create exception e_stop 'Stopped';
create table t (a integer);
set term ^ ;
execute block as begin exception e_stop; end^
execute block as begin exception e_stop 'MSG: custom text'; end^
execute block as begin insert into t values (1); exception e_stop; end^
set term ; ^
insert into t values (2);
commit;
