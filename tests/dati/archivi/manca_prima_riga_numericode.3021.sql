-- fase: avvio
-- database: QVRB.mdb
delete from NumeriCode3;
