-- Numerazione singola: manca il record della postazione in QVRA.mdb.
-- modo: SG
-- fase: chiamata
-- database: QVRA.mdb
drop table NumerazioneSingle3;
