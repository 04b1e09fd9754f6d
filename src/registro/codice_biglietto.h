#pragma once
// The code of a ticket, for the customer's page on the phone (/biglietto/CODICE).
//
// The kiosk prints the code the moment it issues the ticket; the recorder journals the ticket
// later, when it sees the kiosk's counter move. Both derive the same code from the ticket itself
// (its local day, sequence and number) with a secret key, HMAC-SHA256 cut to 80 bits: nobody
// without the key can guess a code, and nothing needs to pass from the kiosk to the recorder.
// The key is made by the recorder (32 bytes from the system's random source) the first time it
// opens the journal for writing, and kept in the journal's state table; the kiosk reads it from
// there.
//
// A code is 16 characters of the alphabet a-z, 2-7 (5 bits each).
#include <QByteArray>
#include <QDate>
#include <QString>

namespace qvr::registro {

constexpr int LunghezzaCodice = 16;

// A new key: 32 bytes from the operating system's cryptographic random source, as hex.
QByteArray nuovaChiave();
// The ticket's code; an empty key gives an empty code.
QString codiceBiglietto(const QByteArray& chiave, QDate giorno, int sequenza, qint32 numero);
// Whether `testo` has the form of a code (not whether a ticket has it).
bool formaCodice(const QString& testo);
// The key kept in the journal of `archivio` (a folder or a server address), read only; empty
// when the journal holds none yet. Throws ErroreQvr when the journal cannot be read.
QByteArray chiaveDelRegistro(const QString& archivio);

} // namespace qvr::registro
