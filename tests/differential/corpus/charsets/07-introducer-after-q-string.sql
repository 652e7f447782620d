-- A string with a character set introducer holds text of that character
-- set, also after a q-string holding a quote, on a UTF8 connection.
set names utf8;
connect 'db.fdb' user 'SYSDBA';
create table t (n integer, a varchar(10) character set win1251, b varchar(10) character set win1251);
create table "it's" ("it's" varchar(10) character set win1251);
commit;
insert into t values (1, q'{it's}', _win1251 '¸');
insert into t values (2, q'(it's)', _win1251 '¸');
insert into t values (3, q'[it's]', _win1251 '¸');
insert into t values (4, q'<it's>', _win1251 '¸');
insert into t values (5, Q'!it's!', _WIN1251 '¸');
/* it's */ insert into t values (6, 'c', _win1251 '¸');
-- it's
insert into t values (7, 'it''s', _win1251 '¸''¸');
insert into t values (8, 'e', /* it's */ _win1251 /* it's */ '¸');
insert into t values (9, 'f', -- it's
  _win1251
  '¸');
insert into t values (10, 'g', _win1251 q'{¸}');
insert into t values (11, 'h', _win1251 q'¸æ¸');
insert into "it's" ("it's") values (_win1251 '¸');
commit;
