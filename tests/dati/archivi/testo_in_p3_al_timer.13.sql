-- totem: si
-- fase: chiosco
-- danno: dopo_avvio
-- database: Totem.mdb
update Numerazione set P3 = '12a';
