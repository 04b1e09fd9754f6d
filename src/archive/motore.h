#pragma once
// The engine of an archive: a folder of SQLite files (MotoreCartella) or a PostgreSQL server
// (MotoreServer). Which one is decided once, by MotoreArchivio::di() from the archive text (the
// folder value, or the path text of one of its files); the cursor, the reader, the counter,
// creation, copy and the new day then ask the engine for whatever differs between the two and are
// written once themselves.
//
// Each engine's work for a part of the library is defined beside that part (the reader's in
// lettore.cpp, the counter's in contatore.cpp, ...); this header only says what an engine does.
// Everything an engine throws is an ErroreQvr with the numbers that part documents.
#include "archive/lettore.h"

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QSqlQuery;

namespace qvr {

struct OpzioniArchivio;

// One reading connection to one database of the archive, for one short read (see lettore.h):
// opened by MotoreArchivio::apriLettura(), closed with the object.
class ConnessioneLettura {
public:
    using Riga = std::function<void(const QSqlRecord&)>;
    virtual ~ConnessioneLettura() = default;
    ConnessioneLettura(const ConnessioneLettura&) = delete;
    ConnessioneLettura& operator=(const ConnessioneLettura&) = delete;

    // The first row of a table; 3078 missing table, 3021 no row.
    virtual QSqlRecord primaRiga(const QString& tabella) = 0;
    // Every row of a table, in the table's order, handed to `riga`.
    virtual void perOgniRiga(const QString& tabella, const Riga& riga) = 0;
    // Every row of a query handed to `riga`; false (nothing thrown) when the query fails.
    virtual bool prova(const QString& sql, const Riga& riga) = 0;
    // The first rows of the per-station tables nomeTabella(1..10), the given fields, in one
    // statement whose rows start with the station's number.
    virtual QString unione(QString (*nomeTabella)(int), const QStringList& campi) const = 0;

    // A field of a record; 3265 when missing.
    QVariant campo(const QSqlRecord& r, const QString& nome, const QString& tabella) const;
    // A number field; Null counts as 0 (no number), text that is not a number is 13.
    qint32 numero(const QSqlRecord& r, const QString& nome, const QString& tabella) const;

protected:
    // `nome`: the database as messages name it.
    explicit ConnessioneLettura(QString nome) : m_nome(std::move(nome)) {}
    QString m_nome;
};

// The record cursor's work on one database of one engine (see cursore.h): the cursor keeps
// the source and the edit in progress, the engine the connection, the transaction and the row.
class CursoreMotore {
public:
    // `tabella` and `condizione` when the source is one of the forms the cursor can edit
    // (analizzata); otherwise `testo` is run as it stands.
    struct Origine {
        bool analizzata = false;
        QString tabella;
        QString condizione;
        QString testo;
    };
    using Assegnati = QVector<std::pair<QString, QVariant>>;

    virtual ~CursoreMotore() = default;
    // The database as messages name it.
    virtual QString nome() const = 0;
    // Opens the database and reads the first row of the source (inside a write transaction
    // with perModifica).
    virtual void apri(bool perModifica) = 0;
    // Starts the write transaction when none is open, with the row as it is now.
    virtual void modifica() = 0;
    // Writes the assigned fields of the row read and commits.
    virtual void salva(const Assegnati& assegnati) = 0;
    // Rolls back what was not saved and lets the connection go. Safe to call more than once.
    virtual void chiudi() noexcept = 0;
    virtual bool aperto() const = 0;

    bool haRiga = false;
    bool modificabile = false; // the row read can be written back
    bool inTransazione = false;
    QSqlRecord record; // fields and values of the row read
};

// The shared counter held by this process (see contatore.h): the file under its lock, or the
// server's row inside its transaction.
class ContatoreMotore {
public:
    enum class Accesso { Lettura, Scrittura, Creazione };
    virtual ~ContatoreMotore() = default;
    // The first bytes of the counter's line.
    virtual QByteArray prefisso() = 0;
    virtual void riscrivi(const QByteArray& riga) = 0;
    // Ends the hold: what was written is there for everybody.
    virtual void fine() = 0;
};

// One database of an archive opened for copying (see copia_archivio.h), written once for both
// engines but for how names are quoted and statements run.
class DatabaseCopia {
public:
    using Righe = std::vector<QVariantList>;
    virtual ~DatabaseCopia() = default;
    // Every row of a table, the given fields in this order, in the table's row order.
    Righe leggi(const QString& tabella, const QStringList& campi);
    // Replaces every row of a table with `righe`.
    void sostituisci(const QString& tabella, const QStringList& campi, const Righe& righe);
    virtual void inizia() = 0;
    void conferma() { esegui(QStringLiteral("COMMIT")); }
    virtual void annulla() noexcept = 0;

protected:
    virtual QString nomeTabella(const QString& tabella) const = 0;
    virtual QString nomeCampo(const QString& campo) const = 0;
    // The column that gives a table's row order.
    virtual QString ordine() const = 0;
    // Runs sql with `valori` bound in order, into q when given; failures name `oggetto`.
    virtual void esegui(const QString& sql, const QVariantList& valori = {},
                        const QString& oggetto = {}, QSqlQuery* q = nullptr) = 0;
    virtual QSqlDatabase db() const = 0;
};

class MotoreArchivio {
public:
    // The engine of an archive folder value or of the path text of one of its files.
    static std::unique_ptr<MotoreArchivio> di(const QString& testo);
    virtual ~MotoreArchivio() = default;

    // The archive text the engine was made from.
    QString testo() const { return m_testo; }
    // A file of the archive as messages name it (no password in it).
    virtual QString nomeFile(const QString& file) const = 0;

    // Reader (lettore.cpp).
    virtual std::unique_ptr<ConnessioneLettura> apriLettura(const QString& file) const = 0;
    virtual ImprontaFile impronta(const QString& file) const = 0;
    // Cursor (cursore.cpp, cursore_server.cpp) on the database whose path text the engine was
    // made from.
    virtual std::unique_ptr<CursoreMotore> cursore(CursoreMotore::Origine origine) const = 0;
    // Counter (contatore.cpp) whose path the engine was made from.
    virtual std::unique_ptr<ContatoreMotore> contatore(ContatoreMotore::Accesso accesso) const = 0;
    // Creation (crea_archivio.cpp) of the archive the engine was made from.
    virtual void crea(const OpzioniArchivio& opzioni, bool sovrascrivi) const = 0;
    // A folder that is missing or no folder is 3044 before anything is opened (a server
    // answers for itself when it is reached).
    virtual void controllaCartella() const = 0;
    // Copy (copia_archivio.cpp).
    virtual std::unique_ptr<DatabaseCopia> apriCopia(const QString& file, bool scrittura) const = 0;
    virtual QByteArray leggiContatoreGrezzo() const = 0;
    virtual void scriviContatoreGrezzo(const QByteArray& testo) const = 0;
    // New day (nuova_giornata.cpp): that a database can be written to (a file of a folder and
    // its folder must be writable), and that the counter can be reset.
    virtual void controllaScrivibile(const QString& file) const = 0;
    virtual void controllaContatore() const = 0;

protected:
    explicit MotoreArchivio(QString testo) : m_testo(std::move(testo)) {}
    QString m_testo;
};

class MotoreCartella : public MotoreArchivio {
public:
    explicit MotoreCartella(QString testo) : MotoreArchivio(std::move(testo)) {}
    QString nomeFile(const QString& file) const override;
    std::unique_ptr<ConnessioneLettura> apriLettura(const QString& file) const override;
    ImprontaFile impronta(const QString& file) const override;
    std::unique_ptr<CursoreMotore> cursore(CursoreMotore::Origine origine) const override;
    std::unique_ptr<ContatoreMotore> contatore(ContatoreMotore::Accesso accesso) const override;
    void crea(const OpzioniArchivio& opzioni, bool sovrascrivi) const override;
    void controllaCartella() const override;
    std::unique_ptr<DatabaseCopia> apriCopia(const QString& file, bool scrittura) const override;
    QByteArray leggiContatoreGrezzo() const override;
    void scriviContatoreGrezzo(const QByteArray& testo) const override;
    void controllaScrivibile(const QString& file) const override;
    void controllaContatore() const override;
};

class MotoreServer : public MotoreArchivio {
public:
    explicit MotoreServer(QString testo) : MotoreArchivio(std::move(testo)) {}
    QString nomeFile(const QString& file) const override;
    std::unique_ptr<ConnessioneLettura> apriLettura(const QString& file) const override;
    ImprontaFile impronta(const QString& file) const override;
    std::unique_ptr<CursoreMotore> cursore(CursoreMotore::Origine origine) const override;
    std::unique_ptr<ContatoreMotore> contatore(ContatoreMotore::Accesso accesso) const override;
    void crea(const OpzioniArchivio& opzioni, bool sovrascrivi) const override;
    void controllaCartella() const override {}
    std::unique_ptr<DatabaseCopia> apriCopia(const QString& file, bool scrittura) const override;
    QByteArray leggiContatoreGrezzo() const override;
    void scriviContatoreGrezzo(const QByteArray& testo) const override;
    void controllaScrivibile(const QString&) const override {}
    void controllaContatore() const override;
};

} // namespace qvr
