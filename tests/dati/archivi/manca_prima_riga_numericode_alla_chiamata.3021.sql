-- Il record del display cancellato mentre la console è aperta.
-- fase: chiamata
-- danno: dopo_avvio
-- database: QVRB.mdb
delete from NumeriCode3;
