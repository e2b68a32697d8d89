select id, customer, total from orders
where total < 1000 and (id & 1) = 1
order by id
