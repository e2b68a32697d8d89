create table orders (id integer primary key, customer text, total numeric);
