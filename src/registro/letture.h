#pragma once
// The reads the recorder makes beside the board's reader: the kiosk counters of Totem.mdb and
// the wrap settings of QVR.mdb. Like the board's reader they only read: each database opened
// read-only (a missing file is an error, never a new database), one short read, closed at once.
// On a server archive the same reads are one statement each on the engine's pooled connection,
// the first row being the one with the lowest key.
// Failures are ErroreQvr with the numbers of archive/errori.h (3024 file missing, 3044 folder
// missing, 3078 table missing, 3265 field missing, 3021 no row, 3260 locked, 3343 not a database).
#include "archive/biglietti.h"
#include "archive/lettore.h"
#include "archive/nomi.h"

#include <QString>

#include <array>

namespace qvr::registro {

// P1..P10 and P11 of the first row of Numerazione (index 0 is P1, index 10 P11); Null is 0.
using Contatori = std::array<qint32, nomi::NumeroSequenze>;
Contatori leggiContatori(const QString& cartella);

// NovantanoveSingle and NovantanoveStandard of QVR.mdb's Configurazione (Null is False).
biglietti::Regole leggiRegole(const QString& cartella);

// The change marks of the four databases the recorder watches, read together: the files' header
// marks, or on a server one statement over every watched table's rows (their transaction ids and
// keys), so that a poll is one round trip.
struct Impronte {
    ImprontaFile qvr, qvra, qvrb, totem;
};
Impronte leggiImpronte(const QString& archivio);

} // namespace qvr::registro
