#pragma once
// Shared pieces of the test programs: a temporary archive folder, a temporary working directory,
// the program's ending caught instead of leaving the process, and paths of the built programs.

#include "archive/crea_archivio.h"
#include "archive/nomi.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace qvr::test {

class DatabaseProva;

// A temporary folder that holds a complete archive (made as the other programs of the queue
// system would) and is the working directory while the object lives.
class AmbienteProva {
public:
    explicit AmbienteProva(const OpzioniArchivio& opzioni = {}, bool creaArchivio = true);
    ~AmbienteProva();

    QString cartella() const;                // the temporary folder (working directory)
    QString archivio() const;                // the archive folder inside it
    QString file(const QString& nome) const; // a file of the archive folder
    // Writes percorsi.txt in the working directory for this archive and station.
    void scriviPercorsi(int postazione) const;

private:
    QTemporaryDir m_dir;
    QString m_vecchiaCartella;
    std::unique_ptr<DatabaseProva> m_server; // the archive's database with QVR_MOTORE=server
};

// Replaces the program's ending: counts how often the program would have ended.
class UscitaIntercettata {
public:
    UscitaIntercettata();
    ~UscitaIntercettata();
    int volte() const { return *m_volte; }
    int ultimoCodice() const { return *m_codice; }

private:
    std::shared_ptr<int> m_volte = std::make_shared<int>(0);
    std::shared_ptr<int> m_codice = std::make_shared<int>(-1);
};

// The shared counter's raw text on either engine (the file's bytes, or the server row's value),
// "<mancante>" when it cannot be read; and its replacement.
QByteArray contatoreGrezzo(const QString& file);
void scriviContatoreGrezzo(const QString& file, const QByteArray& dati);
// Removes a file of the archive: the file itself, or on the server its schema (a database file)
// or the counter row (Nr4All.txt), so the engine finds it missing. True when done.
bool rimuoviFileArchivio(const QString& file);
// Another station holding the counter row of a server archive (a transaction of its own that
// read it FOR UPDATE) until the returned function is called.
std::function<void()> tieniContatoreServer(const QString& file);
// A call of station `postazione` as its console publishes it: the display record's number and
// state, flag "F", on either engine.
void scriviDisplay(const QString& archivio, int postazione, qint32 numero,
                   int stato = nomi::StatoInCorso);
// The whole content of a file, or "<mancante>" when it cannot be read.
QByteArray contenuto(const QString& file);
// Replaces the content of a file (a failure fails the running test).
void scriviFile(const QString& file, const QByteArray& dati);
// The error number `lavoro` fails with, or 0 when it does not fail; `dettaglio` receives the
// error's detail.
int numeroErrore(const std::function<void()>& lavoro, QString* dettaglio = nullptr);

// Runs SQL on a database file directly (to prepare or inspect an archive outside the client).
// On a file of a server archive ("URI\\QVRB.mdb") the SQL runs in that file's schema, its
// bracketed names quoted as the engine quotes them.
QVariant interroga(const QString& fileDb, const QString& sql);
void esegui(const QString& fileDb, const QString& sql);

// The test server (QVR_PG_URI, set by scripts/test.sh), or "" when there is none.
QString uriServerProva();
// Which engine the suite runs on: QVR_MOTORE=server puts the archives of AmbienteProva on the
// test server (one fresh database each), anything else in folders.
bool suiteSulServer();
// In a suite that runs on both engines, a case about the archive's files themselves (a FIFO, a
// damaged file, a lock on a file): on the server engine it is skipped, saying why.
#define QVR_SOLO_CARTELLE(motivo)                                                                  \
    do {                                                                                           \
        if (qvr::test::suiteSulServer())                                                           \
            QSKIP("solo per l'archivio in una cartella: " motivo);                                 \
    } while (false)

// A fresh database on the test server, dropped (with every connection to it) when the object
// goes. Empty uri() when there is no test server.
class DatabaseProva {
public:
    DatabaseProva();
    ~DatabaseProva();
    DatabaseProva(const DatabaseProva&) = delete;
    DatabaseProva& operator=(const DatabaseProva&) = delete;
    QString uri() const { return m_uri; }

private:
    QString m_uri;
    QString m_nome;
};

// A PostgreSQL cluster of one test alone (scripts/servizi/postgresql.sh), whose processes can be
// stopped with SIGSTOP, as when its host hangs or a cable is pulled, and let go again. Stopped
// and removed when it goes.
class ClusterProprio {
public:
    ClusterProprio();
    ~ClusterProprio();
    ClusterProprio(const ClusterProprio&) = delete;
    ClusterProprio& operator=(const ClusterProprio&) = delete;
    bool pronto() const { return !uri.isEmpty() && !dati.isEmpty(); }
    // The postmaster (first line of postmaster.pid) and its children, read from /proc.
    QList<qint64> processi() const;
    void ferma();
    void riprendi();

    QString uri;
    QString dati;

private:
    QList<qint64> m_fermati;
};

// The folder of the built test helper programs, and of qvr-client.
QString cartellaProgrammiTest();
QString cartellaBuild();

} // namespace qvr::test
