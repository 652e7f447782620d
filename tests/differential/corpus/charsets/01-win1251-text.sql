create table w (s varchar(50) character set win1251);
insert into w values ('—ъешь же ещЄ этих м€гких французских булок');
insert into w values ('®∆»  Єжик');
commit;
