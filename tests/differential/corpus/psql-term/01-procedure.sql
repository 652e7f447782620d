create table log (msg varchar(50));
set term ^ ;
create procedure twice (n integer) returns (r integer) as
begin
  r = n * 2;
  if (r > 10) then
  begin
    r = 10;
  end
  suspend;
end^
create procedure note (m varchar(50)) as
begin
  insert into log values (:m);
end^
set term ; ^
execute procedure note 'from procedure';
insert into log select 'twice ' || r from twice(3);
commit;
