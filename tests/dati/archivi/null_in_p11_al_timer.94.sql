-- modo: SG
-- totem: si
-- fase: chiosco
-- danno: dopo_avvio
-- database: Totem.mdb
update Numerazione set P11 = NULL;
