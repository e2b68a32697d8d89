CREATE TABLE orders (id INTEGER PRIMARY KEY, customer TEXT, note TEXT);
