-- modo: SG
-- fase: chiamata
-- database: QVRA.mdb
delete from NumerazioneSingle3;
