create table orders (id integer primary key, customer text, city text, total numeric);
insert into orders values (1, 'Novák', 'Brno', 23.50), (2, 'Svoboda', 'Praha', 99.90),
  (3, 'Dvořák', 'Brno', 10.25), (4, 'O''Neil; "Jr"', 'Brno', 1.00);
