create table a (s varchar(10) character set ascii);
insert into a values ('ok');
insert into a values ('плохо');
create table l (s varchar(10) character set iso8859_1);
insert into l values ('ж');
commit;
