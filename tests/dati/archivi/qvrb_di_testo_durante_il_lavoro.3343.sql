-- QVRB.mdb sostituito da un file di testo mentre la console lavora.
-- fase: chiamata
-- danno: dopo_avvio
-- contenuto: QVRB.mdb
NumeriCode3 = 12
