create table orders (id integer, day text);
insert into orders values (1, '2026-01-01'), (2, '2026-01-02');
