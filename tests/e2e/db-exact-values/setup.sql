-- database: values.db
-- Exact amounts, dates that are no dates, binary values and long texts.
BEGIN TRANSACTION;
CREATE TABLE vals (id integer, amount numeric(20,2), due date, photo blob, note text);
INSERT INTO vals VALUES(1,123456789012345678,'2013-05-01',X'00ff41','short');
INSERT INTO vals VALUES(2,-12.5,'',X'41414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141414141','nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn');
INSERT INTO vals VALUES(3,0.10000000000000000555,'later',NULL,NULL);
COMMIT;
