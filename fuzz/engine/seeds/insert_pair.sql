INSERT INTO t (a, b) VALUES (1, 'x''y')
INSERT INTO t (a, b) VALUES (-2.5, _win1251 'z')