#pragma once
// The archive's upkeep for the manager: a new archive, a copy between a folder and a server
// (the library's copy and its field-by-field check), and the integrity check in words.

#include <QString>
#include <QStringList>

namespace qvr::ufficio {

// The result of a check, one line per finding, in Italian; `sano` when nothing is wrong.
struct Controllo {
    bool sano = true;
    QStringList righe;
};

// Every database of the archive: on a folder SQLite's integrity_check of each file, then on
// either engine every table and field of the archive's layout present with its first row, and
// the counter Nr4All.txt readable as a number; and the office's journal when there is one (its
// file's check on a folder, its version and last event). Never writes anything.
Controllo controllaArchivio(const QString& archivio);

// Copies `da` to `a` (copiaArchivio) and compares them again (confrontaArchivi); the lines say
// what was copied and any difference.
Controllo copiaEVerifica(const QString& da, const QString& a, bool sovrascrivi);

} // namespace qvr::ufficio
