-- Il chiosco in uso ma Totem.mdb senza i contatori: il primo aggiornamento all'avvio.
-- totem: si
-- fase: avvio
-- database: Totem.mdb
drop table Numerazione;
