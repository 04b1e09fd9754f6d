-- fase: apertura
-- database: QVR.mdb
update PostazioneUtente set Posto3ID = 'tre';
