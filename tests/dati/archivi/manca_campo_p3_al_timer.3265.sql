-- Il campo della postazione sparisce da Totem.mdb mentre la console è aperta: il timer.
-- totem: si
-- fase: chiosco
-- danno: dopo_avvio
-- database: Totem.mdb
alter table Numerazione drop column P3;
