-- The tables scpnsim reads its stored Data tokens from, with the column types
-- the loader expects, and three example tokens. Load it into the database of
-- data source "scpn" (scripts/try-db.sh start does this for a private server):
--   mariadb scpn < examples/database/tokens.sql
--
-- Start-up reads marking 1 only. Every token is a row of 1_tokens_data that
-- names its attribute record (object_id -> 1_objects_data.id) and its place
-- (place_id -> 1_places.id); the place name must be one of the net's places.
-- Table names begin with a digit, which MariaDB accepts unquoted.
DROP TABLE IF EXISTS markings, 1_places, 1_tokens_data, 1_objects_data;

CREATE TABLE markings (id INT NOT NULL PRIMARY KEY, name LONGTEXT);
CREATE TABLE 1_places (id INT NOT NULL PRIMARY KEY, name LONGTEXT);
CREATE TABLE 1_tokens_data (id INT NOT NULL PRIMARY KEY, object_id INT, place_id INT);
-- One column per attribute of the colour, named in lower case:
--   n        text; a text over 511 bytes is cut (at a character boundary)
--   s, l     32-bit integers
--   gt       date and time; the fraction of a second is dropped
--   d, ood   booleans, 0 or 1 (BOOLEAN or BIT(1))
--   tl, gl   32-bit integers
-- A NULL keeps the attribute's default; so does a value that does not fit
-- the attribute (a text in an integer column, a number beyond 32 bits, a
-- zero date), which start-up reports with the token's id and the column.
CREATE TABLE 1_objects_data (id INT NOT NULL PRIMARY KEY, n LONGTEXT, s INT, l INT,
  gt DATETIME, d BOOLEAN, ood BOOLEAN, tl INT, gl INT);

INSERT INTO markings VALUES (1, 'example');
INSERT INTO 1_places VALUES (1, 'P_In_out1'), (2, 'S_out1');
INSERT INTO 1_objects_data VALUES
  (1, 'first job', 1, 2, '2024-05-06 07:08:09', 1, 0, 1, 2),
  (2, 'second job', 3, 4, '2025-01-02 03:04:05', 0, 1, 2, 1),
  (3, 'done job', 5, 6, '2026-12-31 23:59:58', 1, 1, 0, 0);
INSERT INTO 1_tokens_data VALUES (1, 1, 1), (2, 2, 1), (3, 3, 2);
