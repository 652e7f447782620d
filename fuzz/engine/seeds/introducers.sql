set names utf8;
connect 'db.fdb' user 'SYSDBA';
insert into t values (q'{it's}', _win1251 '∏');
insert into t values (q'(it's)', _win1251 '∏''∏', Q'<it's>', q'[it's]', q'!it's!');
/* it's */ select _win1251 /* it's */ -- '
  '∏', "it's", _utf8 q'∏—ë∏', _win1251 x'B8', 'x–ñ' from rdb$database;
