-- modo: SG
-- totem: si
-- fase: avvio
-- database: Totem.mdb
update Numerazione set P11 = 'molti';
