create table acc (id integer not null primary key, bal integer);
insert into acc values (1, 100);
update or insert into acc values (1, 150) matching (id);
update or insert into acc values (2, 5) matching (id);
merge into acc a using (select 3 id, 7 bal from rdb$database union all select 1, 1 from rdb$database) s
  on a.id = s.id
  when matched then update set bal = a.bal + s.bal
  when not matched then insert values (s.id, s.bal);
commit;
