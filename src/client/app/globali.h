#pragma once
// The program-wide values: one copy for the whole run, shared by every window.

#include <QString>
#include <QtGlobal>

namespace qvr {

inline const QString VersioneCaption = QStringLiteral("QVR - 3.7.2 - Modulo Client");

// Read from the station settings file.
inline QString PercorsoArchivi;     // archive folder, exactly as read
inline QString PostazioneTesto;     // station number as read, never converted
inline qint32 NumeroPostazione = 0; // 1..10 once the launcher or the console found the station
inline qint32 IdUtente = 0;         // user assigned to the station

// Set by the launcher and the console start.
inline bool TotemInUso = false;   // the ticket kiosk is in use
inline bool ModoSingolo = false;  // true: single numbering ("SG"); false: standard ("ST")
inline qint32 NumeroCorrente = 0; // the number the station shows, as last read back
inline qint32 NumeroChiamato = 0; // the number of the latest call operation
inline qint16 RispostaMsg = 0;    // answer of the message window: 7 "C&hiudi", 8 "&Conferma"

// Back to the values of a fresh start (for tests that run several starts in one process).
void azzeraValoriGlobali();

} // namespace qvr
