select id, name from customers order by id
