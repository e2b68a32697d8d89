select id::text as id from orders order by id
