create table c (s varchar(10) character set win1251 collate pxw_cyrl);
insert into c values ('Єлка');
insert into c values ('≈ль');
insert into c values ('ель');
create table d (s varchar(10) character set win1251 collate win1251_ua);
insert into d values ('•анок');
create unique index ux_c on c (s);
commit;
