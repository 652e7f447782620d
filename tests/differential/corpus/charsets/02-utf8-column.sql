create table u (s varchar(20) character set utf8, t varchar(20) character set win1251);
insert into u values ('Привет', 'Привет');
insert into u values (upper('привет'), lower('ПРИВЕТ'));
commit;
