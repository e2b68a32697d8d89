create table orders (id integer, day text);
create table customers (id integer, name text);
