create table allt (
  i smallint, b bigint, n numeric(15,4), d decimal(9,3), f float, dp double precision,
  c char(4), vc varchar(10), dt date, tm time, ts timestamp, bo boolean,
  bt blob sub_type text, bb blob sub_type binary);
insert into allt values (-1, 9223372036854775807, 12.3456, -0.5, 1.5, 2.25,
  'ab', 'xyz', '2023-12-31', '23:59:58.1234', '2000-02-29 12:00:00', false,
  'a text blob', x'00FF10');
insert into allt (i) values (null);
commit;
