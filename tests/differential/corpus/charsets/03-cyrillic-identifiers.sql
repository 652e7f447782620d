create table "Товары" ("Название" varchar(20), "Цена" integer);
insert into "Товары" values ('Хлеб', 30);
create view "Дорогие" as select * from "Товары" where "Цена" > 10;
comment on table "Товары" is 'Справочник';
commit;
