create table customers (id integer primary key, name text, city text);
create table orders (id integer primary key, customer_id integer, total numeric);
create table runs (city text, orders integer);
insert into customers values (1, 'Novák', 'Prague'), (2, 'Svoboda', 'Brno'), (3, 'Dvořák', 'Prague');
insert into orders values (10, 1, 120.5), (11, 1, 42.1), (12, 2, 80), (13, 3, 15);
