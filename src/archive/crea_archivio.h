#pragma once
// Creating a complete archive folder, as the other programs of the queue system would: the
// four databases with every table and field the client uses and one first row each, Agenda.mdb
// with its tables, Nr4All.txt holding 0, a few users and each station assigned a user.
// Used by the archive tool (qvr-archivio) and by the tests; the client itself never creates
// anything in the archive.

#include "archive/nomi.h"

#include <QString>

#include <QStringList>

#include <array>
#include <vector>

namespace qvr {

struct OpzioniArchivio {
    // Numbering mode of each station (Posto<n>SS): "ST" or "SG" (any text is stored as given).
    std::array<QString, nomi::NumeroPostazioni> modi = {"ST", "ST", "ST", "ST", "ST",
                                                        "ST", "ST", "ST", "ST", "ST"};
    bool dopo99Singola = false;  // NovantanoveSingle
    bool dopo99Standard = false; // NovantanoveStandard
    bool totem = false;          // RHDSN "SI" / "NO"
};

// Creates the archive in the native folder `cartella` (created when missing). Refuses, with
// error 75, a folder that already holds an archive file unless `sovrascrivi`.
void creaArchivio(const QString& cartella, const OpzioniArchivio& opzioni = {},
                  bool sovrascrivi = false);

// Every table of the archive as it is made: its file, name and fields, in creation order.
struct TabellaArchivio {
    QString file;
    QString tabella;
    QStringList campi;
};
std::vector<TabellaArchivio> tabelleArchivio();

// The kiosk issues a ticket (biglietti::emetti, whether or not the kiosk is in use): advances
// P<postazione> (1..10) or, with 11, the shared P11 and its waiting count P11Q. Returns the new
// ticket number.
qint32 emettiBiglietto(const QString& cartella, int sequenza);

} // namespace qvr
