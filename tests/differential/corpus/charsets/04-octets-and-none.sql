create table o (x char(4) character set octets, n varchar(10) character set none);
insert into o values (x'D0E0E1EE', 'Рабо');
insert into o values ('abcd', 'plain');
commit;
