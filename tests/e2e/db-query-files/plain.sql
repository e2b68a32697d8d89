select id, customer from orders where city = :city order by id
