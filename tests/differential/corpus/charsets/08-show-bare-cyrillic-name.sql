-- A bare name is upper-cased in ASCII alone: "show table табл" finds the
-- table written in small letters, and a name in mixed letters finds none.
create table "табл" (a integer);
create table "ТАБЛ" (b integer);
commit;
show table табл;
show table Табл;
show table ТАБЛ;
