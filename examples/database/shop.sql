-- The example shop database; examples/run-examples builds out/shop.db from it.
create table orders (id integer primary key, customer varchar(40), city varchar(40),
                     total real, ordered date);
create table items (order_id integer references orders(id), product varchar(40),
                    qty integer, price real, note text);
insert into orders values
  (1, 'Novak', 'Brno', 23.0, '2026-12-01'),
  (2, 'Svoboda', 'Prague', 99.9, '2026-12-02'),
  (3, 'Dvorak', 'Brno', 10.0, '2026-12-03');
insert into items values
  (1, 'Pen', 2, 1.5, 'blue ink'), (1, 'Paper', 20, 1.0, null),
  (2, 'Desk', 1, 99.9, 'oak'), (3, 'Lamp', 1, 10.0, null);
