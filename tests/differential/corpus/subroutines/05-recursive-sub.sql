create table out5 (v bigint);
set term ^ ;
create procedure fact_p (n integer) returns (r bigint) as
  declare function fact (n integer) returns bigint as
  begin
    if (n <= 1) then return 1;
    return n * fact(n - 1);
  end
begin
  r = fact(n);
  suspend;
end^
set term ; ^
insert into out5 select r from fact_p(10);
commit;
