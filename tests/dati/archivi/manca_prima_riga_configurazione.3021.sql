-- fase: avvio
-- database: QVR.mdb
delete from Configurazione;
