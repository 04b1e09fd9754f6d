#pragma once
// Read-only access to the archive, for the programs that only show what the stations publish
// (the waiting-room board).
//
// The reader never writes, creates or locks anything of its own in the archive: every database
// is opened read-only ("mode=ro" and QSQLITE_OPEN_READONLY, so a missing file is an error and
// never a new empty database), each read is one short read transaction closed at once, and the
// counter file Nr4All.txt is never opened.
//
// Finding changes cheaply: the four bytes at offset 24 of an SQLite database header (the file
// change counter) change at every committed write in rollback-journal mode, which the archive
// keeps. impronta() reads them with one small read of the header, without opening the database,
// so a poll costs a few microseconds and takes no lock; the tables are read only when a print
// moved (see docs/performance.md for the ways measured).
//
// Every failure is an ErroreQvr with one of the numbers of archive/errori.h.
#include "archive/nomi.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>

namespace qvr {

class MotoreArchivio;

// The change mark of one database file: its change counter and which file it is (a file
// replaced by another one counts as changed even when the counters happen to match).
struct ImprontaFile {
    quint32 contatore = 0;
    quint64 inode = 0;
    qint64 dimensione = 0;
    bool operator==(const ImprontaFile&) const = default;
};

// A fault of one station's record alone: a value of the wrong type (text, blob) or out of
// range. The other stations' records are read all the same.
struct GuastoRecord {
    int numero = 0; // 0: the record was read
    QString testo;  // "Errore 13: Tipo non corrispondente (...)"
    bool operator==(const GuastoRecord&) const = default;
};

// The first row of NumeriCode<n> in QVRB.mdb (number and state 0 when `guasto` is set).
struct RecordDisplay {
    qint32 numero = 0;
    int stato = 0;
    QString flag;
    GuastoRecord guasto;
    bool operator==(const RecordDisplay&) const = default;
};

// The first row of NumerazioneSingle<n> in QVRA.mdb (number and state 0 when `guasto` is set).
struct RecordSingolo {
    qint32 numero = 0;
    int stato = 0;
    GuastoRecord guasto;
    bool operator==(const RecordSingolo&) const = default;
};

// Station assignment from QVR.mdb: numbering mode (Posto<n>SS, exactly "SG" is single) and
// the user's name from Utenti (empty when the station has no user or the user no name).
struct AssegnazionePostazione {
    bool singola = false;
    qint32 idUtente = 0;
    QString nominativo;
    bool operator==(const AssegnazionePostazione&) const = default;
};

using RecordsDisplay = std::array<RecordDisplay, nomi::NumeroPostazioni>; // index 0 is station 1
using RecordsSingoli = std::array<RecordSingolo, nomi::NumeroPostazioni>; // index 0 is station 1
using Assegnazioni =
    std::array<AssegnazionePostazione, nomi::NumeroPostazioni>; // index 0 is station 1

// The reads are virtual so that a test can put a reader that stalls or fails in its place.
class LettoreArchivio {
public:
    // `cartella` is the archive folder as text, as the settings files hold it.
    explicit LettoreArchivio(const QString& cartella);
    virtual ~LettoreArchivio() = default;

    QString cartella() const { return m_cartella; }

    // The change mark of an archive database (nomi::FileQVR, FileQVRA, FileQVRB, FileTotem).
    // 3024 file missing, 3044 folder missing, 3343 not a database (also anything that is not a
    // regular file: a FIFO or a device put in the database's place is never waited on), 75 no
    // permission.
    virtual ImprontaFile impronta(const QString& nomeFile) const;
    // The same, for a native file path.
    static ImprontaFile improntaFile(const QString& nativo);

    // The display records of stations 1..10 (QVRB.mdb), in one short read. A station whose own
    // record is at fault has its `guasto` set; the read as a whole fails only on what concerns
    // the whole database (missing, locked, damaged, unreachable).
    virtual RecordsDisplay leggiDisplay() const;
    // The single-numbering records of stations 1..10 (QVRA.mdb), in one short read; faults as
    // for leggiDisplay().
    virtual RecordsSingoli leggiSingoli() const;
    // Mode and user of stations 1..10 (QVR.mdb), with the users' names when `nominativi`.
    virtual Assegnazioni leggiAssegnazioni(bool nominativi) const;

    // Busy timeout of the reader's connections, in milliseconds (default 2000): how long a
    // read waits for a station's commit in progress before failing with 3260.
    static void impostaTimeoutOccupato(int millisecondi);

private:
    QString m_cartella;
    std::shared_ptr<const MotoreArchivio> m_motore; // the engine of m_cartella, chosen once
};

} // namespace qvr
