-- The shop database of the database cases: orders and their items.
BEGIN TRANSACTION;
CREATE TABLE orders (id integer primary key, customer varchar(40), city varchar(40), total real, ordered date);
INSERT INTO orders VALUES(1,'Novak','Brno',1234.5,'2013-05-01');
INSERT INTO orders VALUES(2,'Svoboda','Prague',99.900000000000005687,'2013-05-02');
INSERT INTO orders VALUES(3,'Dvorak','Brno',10.0,'2013-05-03');
CREATE TABLE items (order_id integer, product varchar(40), qty integer, price real, note text);
INSERT INTO items VALUES(1,'Pen',2,1.5,'blue "ink"');
INSERT INTO items VALUES(1,'Paper',10,0.10000000000000000555,NULL);
INSERT INTO items VALUES(2,'Desk',1,99.900000000000005687,'oak');
INSERT INTO items VALUES(3,'Lamp',1,10.0,'');
COMMIT;
