-- Un file di testo al posto di QVR.mdb.
-- fase: apertura
-- contenuto: QVR.mdb
Postazione 1: Rossi
Postazione 2: Bianchi
