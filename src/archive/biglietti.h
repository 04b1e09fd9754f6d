#pragma once
// The kiosk's tickets: issuing one, and the waiting count the consoles and the kiosk show.
//
// A ticket is one write transaction on the first row of Numerazione in Totem.mdb: the
// sequence's counter is read, the next number computed (1 after exactly 99 when the wrap
// setting of that numbering mode is on: NovantanoveStandard for P1..P10, NovantanoveSingle for
// P11) and written; for the shared sequence P11 the waiting count P11Q is written too, from the
// first item of Nr4All.txt read under the counter file's exclusive lock inside the same
// transaction. Only the changed fields are written, so a console's concurrent write of P11Q is
// never undone, and two kiosks on one counter can never issue the same number.
//
// `cartella` is the archive folder as text (see percorsi_archivio.h). Failures are ErroreQvr.

#include "archive/nomi.h"

#include <QString>

namespace qvr::biglietti {

// The shared sequence of single numbering; 1..10 are the stations' own sequences.
constexpr int SequenzaSingola = nomi::NumeroSequenze;

// How many numbers were issued after the last one called: T - L. With the wrap on, a kiosk
// that passed 99 and began again at 1 while the consoles are still below 99 is counted going
// round the sequence: T - L + 99 when T < L. A count that is still negative (the wrap off, or
// numbers set by hand) is 0.
qint32 personeInAttesa(qint32 ultimoBiglietto, qint32 ultimoChiamato, bool dopo99);

// The ticket after `ultimo`: 1 after exactly 99 when `dopo99`, otherwise one more; a counter at
// the top of 32 bits fails with error 6.
qint32 numeroDopo(qint32 ultimo, bool dopo99);

// The wrap settings of QVR.mdb's Configurazione (Null counts as False).
struct Regole {
    bool dopo99Singola = false;
    bool dopo99Standard = false;
    bool perSequenza(int sequenza) const {
        return sequenza == SequenzaSingola ? dopo99Singola : dopo99Standard;
    }
};
Regole leggiRegole(const QString& cartella);

// Whether the consoles use the kiosk: RHDSN of Totem.mdb's Configurazione is exactly "SI".
bool totemAttivo(const QString& cartella);

struct Biglietto {
    int sequenza = 0;
    qint32 numero = 0;   // the number issued
    qint32 davanti = -1; // people ahead of this ticket; -1 when it could not be known
    qint32 coda = -1;    // P11Q written (shared sequence only), otherwise -1
};

struct Opzioni {
    // Refuse (error 3000, nothing written) when RHDSN is not "SI".
    bool soloSeAttivo = false;
};

// Issues one ticket of `sequenza` (1..11; any other is error 3265). For P1..P10 the people
// ahead are counted from the station's display record (NumeroA1 of NumeriCode<n> in QVRB.mdb),
// read before the transaction; a display record that cannot be read only leaves them unknown.
// For P11 a counter file that cannot be read leaves P11Q as it was and the people ahead unknown:
// the ticket still counts, the consoles' next refresh writes P11Q.
Biglietto emetti(const QString& cartella, int sequenza, const Opzioni& opzioni = {});

// The number of the error emetti() gives when the kiosk is not in use.
constexpr int ErroreTotemNonAttivo = 3000;

} // namespace qvr::biglietti
