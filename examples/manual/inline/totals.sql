select c.name, sum(o.total) as total
from customers c join orders o on o.customer_id = c.id
group by c.name order by total desc
