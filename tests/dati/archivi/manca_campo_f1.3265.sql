-- Il record del display senza il campo F1: la lettura riesce, la scrittura no.
-- fase: chiamata
-- database: QVRB.mdb
alter table NumeriCode3 drop column F1;
