create domain d_money numeric(12,2) default 0 not null check (value >= 0);
create domain d_code char(3) character set win1251;
create table price (code d_code primary key, amount d_money);
insert into price values ('AAA', 10.5);
insert into price (code) values ('BBB');
insert into price values ('CCC', -1);
commit;
