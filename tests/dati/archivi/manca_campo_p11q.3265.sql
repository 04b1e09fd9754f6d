-- Numerazione singola con il chiosco: P11Q manca, lo legge già l'aggiornamento all'avvio.
-- modo: SG
-- totem: si
-- fase: avvio
-- database: Totem.mdb
alter table Numerazione drop column P11Q;
