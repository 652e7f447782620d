create table t (a integer);
input 'parts/procedure-with-term.sql';
execute procedure fill_t;
commit;
