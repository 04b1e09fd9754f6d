-- fase: apertura
-- database: QVR.mdb
alter table Utenti drop column Nominativo;
