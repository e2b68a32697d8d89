select * from t where a < 5
