create table orders(id integer primary key, city text, total real);
insert into orders values (1, 'Brno', 120.5), (2, 'Prague', 80), (3, 'Brno', 15);
