#pragma once
// The station's display record: the first row of NumeriCode<station> in QVRB.mdb, through which
// a station in standard numbering publishes its calls to the display front end.
// No window is needed: the station and the folder come from the program-wide values.

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

namespace qvr {

// "NumeriCode" + NumeroPostazione.
QString TabellaDisplayCorrente();

// Rewrites the whole first row: NumeroA1, then StatoN1, then F1, in one update.
// The number is stored as a 32-bit integer, or as a floating-point value with the double form.
void AggiornaDisplay(qint32 numero, qint16 stato, const QString& flag);
void AggiornaDisplay(double numero, qint16 stato, const QString& flag);

// NumeroA1 of the first row, as text.
QString LeggiNumeroDisplay();

// What to write into the display record: the number (qint32 or double), the state, the flag.
struct ScritturaDisplay {
    QVariant numero;
    qint16 stato = 0;
    QString flag;
};

// Reads NumeroA1 as text and, in the same write transaction, writes what `decidi` returns for
// that text (nothing when it returns nullopt). Two consoles of the same station pressing at once
// are served one after the other: the second reads what the first wrote. Returns the text read.
QString SeguiEAggiornaDisplay(
    const std::function<std::optional<ScritturaDisplay>(const QString& numeroLetto)>& decidi);

} // namespace qvr
