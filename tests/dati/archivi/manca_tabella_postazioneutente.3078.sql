-- fase: apertura
-- database: QVR.mdb
drop table PostazioneUtente;
