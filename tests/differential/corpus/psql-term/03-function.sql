set term ^ ;
create function add_vat (amount numeric(10,2)) returns numeric(10,2) as
begin
  return amount * 1.2;
end^
set term ; ^
create table bill (amount numeric(10,2), total numeric(10,2));
insert into bill values (100, add_vat(100));
commit;
