create exception e_neg 'Negative';
create table t (a integer);
set term ^ ;
create trigger t_bi for t before insert as
begin
  if (new.a < 0) then exception e_neg;
end^
set term ; ^
insert into t values (1);
insert into t values (-1);
insert into t values (2);
commit;
