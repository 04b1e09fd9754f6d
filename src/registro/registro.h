#pragma once
// The office's journal, Registro.mdb in the archive folder: one row per event the recorder saw
// (a ticket issued, a call, a station waiting or absent, a counter back to 0) and per event of
// the recorder itself (start, stop, a span in which it could not read the archive, a handover).
//
// The file is an SQLite database kept in rollback-journal mode (never WAL: the archive lies on
// a share), its layout versioned with PRAGMA user_version and brought up to date by the
// migrations below when an older one is opened. Every write is one short IMMEDIATE transaction,
// so that a reader of the file never waits long and a half-written batch never lands.
//
// Each event carries the wall-clock time in UTC milliseconds with the UTC offset then in force,
// and a sequence number (the row's key) that only grows: a clock set back never reorders events.
//
// Failures are ErroreRegistro, an ErroreQvr with one of the numbers of archive/errori.h and the
// engine's result code, so that the recorder tells a damaged file (keep it aside, start a new
// one) from a full disk or a read-only share (hold the events, retry).
#include "archive/errori.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

struct sqlite3;

namespace qvr::registro {

inline const QString NomeFile = QStringLiteral("Registro.mdb");
// The layout this program writes; older files are migrated when opened for writing and read
// as they are, newer ones refused. Version 2 added each ticket's code (Codice).
constexpr int VersioneSchema = 2;

enum class Tipo {
    Biglietto,   // a ticket issued: sequenza 1..11, numero
    Chiamata,    // a call: postazione, numero, singola, richiamo
    Attesa,      // a station in the wait state: postazione, numero
    Assente,     // a station absent (state 1 or number 0): postazione
    Azzeramento, // a kiosk counter back to 0 (a new day): sequenza
    Avvio,       // the recorder started recording
    Arresto,     // the recorder stopped
    InizioBuco,  // the archive could not be read from here on: dettaglio holds the error
    FineBuco,    // the archive is readable again
    Passaggio,   // this recorder took over from another one: dettaglio names it
    Danneggiato, // the journal was found damaged and kept aside: dettaglio names the copy
    Perdita,     // events dropped while the journal could not be written: numero holds how many
};

// The names stored in the Tipo column ("biglietto", "chiamata", ...).
QString nomeTipo(Tipo t);
std::optional<Tipo> tipoDaNome(const QString& nome);

struct Evento {
    qint64 seq = 0;      // assigned when written
    qint64 oraUtcMs = 0; // milliseconds since 1970-01-01 UTC
    int scostamento = 0; // the UTC offset in seconds at that moment
    Tipo tipo = Tipo::Biglietto;
    int sequenza = 0;   // 1..10 a station's own sequence, 11 the shared one
    int postazione = 0; // 1..10
    qint32 numero = 0;
    bool singola = false;  // a call in single numbering
    bool richiamo = false; // the same number called again
    QString dettaglio;
    QString registratore; // which recorder wrote it (host and process)
    // A ticket's code for the customer's page (registro/codice_biglietto.h): given by the
    // journal when the ticket is written, from its key; empty in events of older journals.
    QString codice;

    // The local time of the event, at the offset then in force.
    QDateTime ora() const;
    // The local date of the event.
    QDate data() const;
    bool operator==(const Evento&) const = default;
};

// An event of kind `t` at `ora` (its offset taken from it).
Evento evento(Tipo t, const QDateTime& ora);

// A journal's failure. The code is the engine's result code; a server's failures carry the
// SQLite code of the same kind (SQLITE_CORRUPT for a journal with a table or field missing,
// SQLITE_FULL for a full disk, SQLITE_READONLY, SQLITE_PERM, SQLITE_IOERR for a server that does
// not answer), so that the recorder treats both engines alike.
class ErroreRegistro : public ErroreQvr {
public:
    ErroreRegistro(int numero, const QString& dettaglio, int codiceSqlite)
        : ErroreQvr(numero, dettaglio), m_codice(codiceSqlite) {}
    int codiceSqlite() const { return m_codice; }
    // The file is damaged or not a database: keep it aside and start anew.
    bool danneggiato() const;

private:
    int m_codice;
};

// The error number for an SQLite result code.
int numeroDaCodice(int codiceSqlite);

// Where the journal lives, behind one interface: the file Registro.mdb of a folder archive
// (Registro below) or the schema `registro` of a server archive's database (RegistroServer in
// registro_server.h). deposito() in deposito.h picks one for an archive, once; the recorder, the
// figures and the tools see only this.
class Deposito {
public:
    virtual ~Deposito() = default;
    // The journal's place, for messages (a file path, or the server's address without its
    // password and the schema).
    virtual QString nome() const = 0;
    // For writing: opens the journal, creating it when missing, and brings its layout up to the
    // current version. The connection stays open until chiudi() or the destructor.
    virtual void apriScrittura() = 0;
    // For reading only: never creates or changes anything (3024 when the journal is missing).
    virtual void apriLettura() = 0;
    virtual void chiudi() = 0;
    virtual bool aperto() const = 0;
    // The layout version found (0 for a journal never prepared).
    virtual int versione() = 0;
    // Writes `eventi` in one transaction, and with them, when given, the recorder's state (the
    // last records it saw), so that the events and the state they lead to land together or not
    // at all. Assigns each event's seq, one more than the highest so far.
    virtual void aggiungi(std::vector<Evento>& eventi,
                          const std::optional<QString>& stato = {}) = 0;
    // The state last written with aggiungi(), empty when none.
    virtual QString stato() = 0;
    // The last event written, if any.
    virtual std::optional<Evento> ultimo() = 0;
    // Keeps a damaged journal aside under a new name (never deleted) and returns that name; the
    // next apriScrittura() starts a new one.
    virtual QString accantona(const QDateTime& ora) = 0;
    // The key the tickets' codes are made with (registro/codice_biglietto.h), empty when the
    // journal holds none (never opened for writing by this version). apriScrittura() makes it
    // when missing; aggiungi() gives every ticket without a code its code.
    virtual QByteArray chiaveBiglietti() { return {}; }

    // The events whose time falls in [dalUtcMs, alUtcMs), in sequence order; `ogni` receives
    // each (so a year's journal is never held twice in memory).
    template <typename F> void leggi(qint64 dalUtcMs, qint64 alUtcMs, F ogni) {
        leggiCon(
            dalUtcMs, alUtcMs, false, [](void* f, const Evento& e) { (*static_cast<F*>(f))(e); },
            &ogni);
    }
    // The same without the detail and recorder texts of the office's events (for the figures).
    template <typename F> void leggiLeggero(qint64 dalUtcMs, qint64 alUtcMs, F ogni) {
        leggiCon(
            dalUtcMs, alUtcMs, true, [](void* f, const Evento& e) { (*static_cast<F*>(f))(e); },
            &ogni);
    }
    // All events, in sequence order.
    std::vector<Evento> tutti();

protected:
    virtual void leggiCon(qint64 dal, qint64 al, bool leggero, void (*f)(void*, const Evento&),
                          void* dati) = 0;
};

// The file Registro.mdb.
class Registro : public Deposito {
public:
    // `file` is the native path of Registro.mdb.
    explicit Registro(QString file);
    ~Registro();
    Registro(const Registro&) = delete;
    Registro& operator=(const Registro&) = delete;

    QString file() const { return m_file; }
    QString nome() const override { return m_file; }

    void apriScrittura() override;
    void apriLettura() override;
    void chiudi() override;
    bool aperto() const override { return m_db != nullptr; }
    int versione() override;
    void aggiungi(std::vector<Evento>& eventi, const std::optional<QString>& stato = {}) override;
    QString stato() override;
    std::optional<Evento> ultimo() override;
    // Closes the file and renames it as mettiDaParte() does.
    QString accantona(const QDateTime& ora) override;
    QByteArray chiaveBiglietti() override;

    // Keeps a damaged journal aside: renames it to "Registro-danneggiato-AAAAMMGG-HHMMSS.mdb"
    // (with -2, -3 ... when taken) beside it, and returns the new native path. Never deletes.
    static QString mettiDaParte(const QString& file, const QDateTime& ora);

    // Copies the journal `da` to `a` (native paths) as it stands at one moment, even while a
    // recorder writes it (the engine's online backup), then checks that both hold the same
    // events. Returns how many events were copied. The source is only read.
    static qint64 copia(const QString& da, const QString& a);

protected:
    void leggiCon(qint64 dal, qint64 al, bool leggero, void (*f)(void*, const Evento&),
                  void* dati) override;

private:
    void apri(bool scrittura);
    void esegui(const char* sql);
    [[noreturn]] void fallisci(int codice, const QString& cosa);
    void migra();
    void preparaChiave();
    QByteArray colonne() const;

    QString m_file;
    sqlite3* m_db = nullptr;
    int m_versione = 0; // of the file open
    QByteArray m_chiave;
};

} // namespace qvr::registro
