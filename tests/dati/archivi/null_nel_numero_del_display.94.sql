-- fase: avvio
-- database: QVRB.mdb
update NumeriCode3 set NumeroA1 = NULL;
