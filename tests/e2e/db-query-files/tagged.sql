-- orders with their items
/* <orders> */
select id, customer from orders where id in (1, 2) order by id
  /* <items> */
  select product, qty from items where order_id = :orders$id
  /* </items> */
/* </orders> */
