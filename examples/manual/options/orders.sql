/* <order> */
select id, total from orders where total > :least order by id
/* </order> */
