insert into t values (1);
exit;
