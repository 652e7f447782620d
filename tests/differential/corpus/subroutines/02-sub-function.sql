create table out2 (v varchar(20));
set term ^ ;
create procedure greet as
  declare function hello (n varchar(10)) returns varchar(20) as
  begin
    return 'Hello, ' || n;
  end
begin
  insert into out2 values (hello('Olga'));
end^
set term ; ^
execute procedure greet;
commit;
