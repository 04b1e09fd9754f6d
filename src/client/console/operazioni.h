#pragma once
// The console's work on the archive, without a window: the single-numbering draw, the kiosk
// queue counts and the standard-numbering presses. The console window calls these and sets its
// captions from what they return; tests and the load programs drive them directly.
//
// Every failure is an ErroreQvr. A failure of the shared counter file Nr4All.txt (held past the
// retry bound, missing, unreachable, not a number, a counter at its top) arrives as
// ErroreContatore, which the console reports and survives; any other failure goes up to the
// central report.

#include "archive/errori.h"

#include <QString>

#include <optional>

namespace qvr::operazioni {

// A failure of the shared counter file: nothing was changed by the operation that met it.
class ErroreContatore : public ErroreQvr {
public:
    explicit ErroreContatore(const ErroreQvr& origine)
        : ErroreQvr(origine.numero(), origine.dettaglio()) {}
};

// A failure of the single-numbering record after the number was drawn: the shared counter
// already holds `numero`. The console records it in the history and names it to the operator
// before the program ends, so that the customer holding it is called by voice.
class ErroreNumeroNonPubblicato : public ErroreQvr {
public:
    ErroreNumeroNonPubblicato(const ErroreQvr& origine, qint32 numero);
    qint32 numero() const { return m_numero; }

private:
    qint32 m_numero;
};

// The value of a caption read as a number: blanks, an optional sign, digits and an optional
// decimal part; whatever follows is ignored ("025" gives 25, "12 persone" 12, "Numero" 0).
// Rounded to the nearest whole number (halves to the even one) and held within 32 bits.
qint32 valoreNumerico(const QString& testo);

// The number after `corrente` in standard numbering: 1 after exactly 99 when `dopo99`,
// otherwise one more. A number at the top of the 32-bit range fails with error 6.
qint32 numeroSuccessivo(qint32 corrente, bool dopo99);
// The number before `corrente`: 99 before exactly 1 when `dopo99`, otherwise one less
// (may be 0 or negative: the caller refuses those).
qint32 numeroPrecedente(qint32 corrente, bool dopo99);

// ---- Single numbering ----

// The waiting count the kiosk monitors of the single sequence left in Totem.mdb (P11Q), as
// text: read before each call in single numbering with the kiosk in use.
QString LeggiCodaSingola();

// The single-numbering call: opens the station's record NumerazioneSingle<station> of QVRA.mdb
// and begins its write transaction, then draws the next number from Nr4All.txt under one lock
// (1 after exactly 99 when `dopo99Singola`), then writes it into the record (NUMERO, Stato 3)
// and commits. A record that cannot be opened, locked or found fails before the draw, with
// nothing changed; a failure of the write itself after the draw is ErroreNumeroNonPubblicato.
// Sets NumeroCorrente (the number read, 0 after a wrap) and NumeroChiamato (the number drawn)
// and returns the number drawn. Counter failures: ErroreContatore, with nothing changed.
qint32 ChiamaSingola(bool dopo99Singola);

// The single-numbering call of a press with the kiosk in use: the same, with the kiosk's gate
// checked again under the counter's lock, where no other station can draw meanwhile: the draw
// is made only when the kiosk has issued a ticket past the last number called (P11 of Totem.mdb
// against the counter's number, counted as AggiornaCodaSingola counts). The waiting count a
// press reads first (P11Q) is only what the monitors last wrote: two stations that both read 1
// would otherwise both draw, the second a number nobody holds. nullopt when nobody is waiting:
// nothing changed, as for a press refused on P11Q. A failure to read Totem.mdb is an archive
// failure (not a counter one), with nothing drawn.
std::optional<qint32> ChiamaSingolaConCoda(bool dopo99Singola);

// The kiosk count of the single sequence: P11 of Totem.mdb minus the first item of Nr4All.txt,
// counted round the sequence when `dopo99` (biglietti::personeInAttesa), never negative,
// written back into P11Q (as a floating-point value). Returns the count.
qint32 AggiornaCodaSingola(bool dopo99 = false);

// The kiosk count of the station's own sequence: P<station> of Totem.mdb minus the value of the
// number caption, counted round the sequence when `dopo99`, never negative; writes nothing.
// A station outside 1..10 reads no field and counts from 0.
qint32 AggiornaCodaStandard(const QString& captionNumero, bool dopo99 = false);

// ---- Standard numbering: the presses of the call buttons ----

struct EsitoPressione {
    QString numeroLetto;   // NumeroA1 as read from the display record (the new number caption)
    bool chiamato = false; // a number was published
};

// The call button: reads the display record and, in the same write transaction, publishes the
// next number (state 3, flag "F") unless `codaVuota` (the kiosk shows nobody waiting). Sets
// NumeroCorrente from the number read and NumeroChiamato to the number published.
EsitoPressione ChiamaProssimo(bool dopo99Standard, bool codaVuota);

// The wait button: reads the display record and, in the same write transaction, writes the
// same number again with state 2 and flag "F". Sets NumeroCorrente; returns the number read.
QString SegnalaAttesa();

} // namespace qvr::operazioni
