/* <orders> */
select * from t where a < 5
/* </orders> */
