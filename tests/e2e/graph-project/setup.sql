-- database: shop.db
create table orders(id integer, city text, day integer);
insert into orders values (1, "Brno", 1);
