-- database: notes.db
-- Names and notes with control characters, letters beyond ASCII and, in
-- row 2, a byte (FF) that is no UTF-8 at all.
CREATE TABLE notes (id integer, author varchar(40), body text);
INSERT INTO notes VALUES (1, 'Nov' || char(1) || 'ak', 'bell' || char(7));
INSERT INTO notes VALUES (2, CAST(X'C5A06B6F6461FF' AS TEXT), 'fine');
INSERT INTO notes VALUES (3, 'Dvořák', 'café');
