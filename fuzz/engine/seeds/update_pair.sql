UPDATE t SET a = DATE '2024-02-29', b = NULL WHERE id = 7 AND k = 'x'
UPDATE t SET a = TIMESTAMP '2024-1-2 03:04:05.0607', b = x'41' WHERE id = q'{a}' AND k = 8