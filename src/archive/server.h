#pragma once
// The archive on a PostgreSQL server (Qt's QPSQL driver).
//
// Layout: one database per office, named by the URI of the archive folder value. Each archive
// file is a schema with the same tables and fields: QVR.mdb is `qvr`, QVRA.mdb `qvra`,
// QVRB.mdb `qvrb`, Totem.mdb `totem`, Agenda.mdb `agenda`. Every table carries one more column,
// ColonnaChiave (an identity key), which orders its rows: "the first row" is the one with the
// lowest key, and any further row is ignored as in the file archive. The shared counter
// Nr4All.txt is the one-row table qvr.nr4all, whose text field `valore` holds the file's line.
//
// A file of a server archive is written as the URI, a backslash and the file name
// ("postgresql://srv/ufficio1\QVRB.mdb"); posizione() splits it again.
//
// Connections are kept per thread and per URI in a small pool: a cursor takes one while it is
// open and gives it back when it closes, so two cursors open at once never share a transaction.
// A pooled connection that turns out to be lost is reopened once, before anything was done on
// it; a connection lost in the middle of a transaction is an error (3043) and is discarded.
//
// A server that stops answering (its host hung, a cable pulled, its processes stopped) is the
// same failure as a server that is down, within a few seconds: connect_timeout bounds a
// connection attempt (5 s), TCP keepalives and tcp_user_timeout let the kernel drop a peer that
// vanished, the server itself cancels a statement past statement_timeout (4 s, SQLSTATE 57014),
// and the client gives up on a statement that got no answer one second after that bound (the
// connection is cut and discarded). Each of them can be given in the address; see attese() and
// docs/archivio-server.md for the keys and defaults. A transaction left idle for
// idle_in_transaction_session_timeout (60 s) is ended by the server, so a station that hangs
// while it holds the counter's row frees it for the others.
//
// Error numbers (errori.h), from the SQLSTATE of the failure, see numeroDaStato():
//   server unreachable 3044, database or schema missing 3024, table missing 3078, field missing
//   3265, connection lost 3043, read-only server 3051, lock not granted in time 3260; a server
//   that did not answer in time (57014, or the client's own bound) 3044 like one that is down.
// The shared counter uses the numbers of the counter file instead: 76, 53, 57, 75, 70.

#include "archive/errori.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <utility>

class QSqlQuery;

namespace qvr::server {

// The key column added to every table of a server archive.
inline const QString ColonnaChiave = QStringLiteral("qvr_riga");
// The counter table and its text field (in schema `qvr`).
inline const QString SchemaContatore = QStringLiteral("qvr");
inline const QString TabellaContatore = QStringLiteral("nr4all");
inline const QString CampoValore = QStringLiteral("valore");

// The schema that holds an archive file's tables ("" for a name that is no archive file).
// The comparison ignores case, as the file names of the archive do on the office's share.
QString schemaDelFile(const QString& nomeFile);
// Every schema of a server archive, in creation order.
QStringList schemi();

// A file of a server archive: the URI and the file name, and the file's schema.
struct Posizione {
    QString uri;
    QString file;
    QString schema;
};
// nullopt when percorsoTesto is no server text; a server text without a file name, or with a
// name that is no archive file, has an empty schema.
std::optional<Posizione> posizione(const QString& percorsoTesto);

// The parts of a connection URI.
struct Parametri {
    QStringList host;  // may be empty: the default Unix socket
    QStringList porte; // one per host, or one for all, or none
    QString database;
    QString utente;
    QString password;
    QVector<std::pair<QString, QString>> opzioni; // the query parameters, decoded
};
// Splits postgresql://[user[:password]@][host[:port][,...]][/database][?key=value&...], decoding
// percent escapes; hosts may be [IPv6] addresses. A malformed URI is error 3044.
Parametri analizzaUri(const QString& uri);
// The URI without its password, for messages.
QString uriPerMessaggi(const QString& uri);
// Any text with every server address in it passed through uriPerMessaggi (an address runs from
// its scheme to a blank, a backslash or a double quote). Every error's texts go through it.
QString mascheraTesto(const QString& testo);
// The same URI naming another database (used to create one and to tell a missing database from
// an unreachable server).
QString uriConDatabase(const QString& uri, const QString& database);

// The query texts of the system name tables and fields in brackets ("[NumeriCode3]"); the
// server wants double-quoted names. The one place where the one becomes the other: brackets
// outside string literals become double quotes (a double quote inside a name is doubled).
QString traduciSql(const QString& testo);
// A name as a quoted identifier, and a schema-qualified table.
QString identificatore(const QString& nome);
QString tabella(const QString& schema, const QString& nome);

// Which kind of object an error number is for.
enum class Ambito { Archivio, Contatore };
// The client's error number for a failure with this SQLSTATE ("" for a failure the driver
// reports without one: the connection is gone).
int numeroDaStato(const QString& sqlstate, Ambito ambito);
// The SQLSTATE of a failure ("" when none).
QString statoSql(const QSqlError& e);
// The connection is gone: SQLSTATE class 08, 57P01..57P03, 25P03 (a transaction left idle too
// long, ended by the server), or a statement failure without any
// SQLSTATE (only the client library reports those: the server always sends one).
bool connessionePersa(const QSqlError& e);
// The server aborted the transaction and it may be run again: 40001, 40P01.
bool daRitentare(const QSqlError& e);
// A row lock not granted at once or within the lock timeout: 55P03 (a statement cancelled
// before the session's statement bound ran out is reported as this too).
bool rigaBloccata(const QSqlError& e);
// The server did not answer in time: the statement was cancelled (57014), by the server's
// statement_timeout or by the client giving up on it.
bool senzaRisposta(const QSqlError& e);

// The bounds on waiting for the server that the address sets, or their defaults: the
// connection attempt (seconds, per host), the server's statement bound and the idle-transaction
// bound (milliseconds; 0 turns one off), and the client's own bound on an answer (milliseconds,
// the statement bound plus one second; 0 when the statement bound is off). A malformed value
// is error 3044.
struct Attese {
    int connessioneSecondi = 0;
    qint64 istruzioneMs = 0;
    qint64 transazioneInattivaMs = 0;
    qint64 rispostaMs = 0;
};
Attese attese(const QString& uri, const Parametri& p);

// How many times a transaction aborted by a serialization failure or a deadlock is run again.
constexpr int TentativiTransazione = 5;
// The statement bound of the long jobs of the tools (creating a database or an archive), which
// impostaLimiteRisposta() sets on their connection.
constexpr qint64 LimiteLavoriLunghiMs = 120000;

// A connection of the pool of the calling thread, held while the object lives.
class Connessione {
public:
    // Takes an idle connection to `uri` or opens one: 3044 server unreachable (3024 when the
    // server answers but the database is missing; 76 for both in the counter's scope).
    explicit Connessione(const QString& uri, Ambito ambito = Ambito::Archivio);
    ~Connessione();
    Connessione(const Connessione&) = delete;
    Connessione& operator=(const Connessione&) = delete;

    QSqlDatabase db() const;
    QString uri() const { return m_uri; }
    Ambito ambito() const { return m_ambito; }

    // Runs sql with the values bound in order; the failure, if any. A connection taken from
    // the pool and found lost at its first statement is opened again and the statement rerun.
    std::optional<QSqlError> esegui(QSqlQuery& q, const QString& sql,
                                    const QVariantList& valori = {});
    // The same, for a statement without a result the caller needs.
    std::optional<QSqlError> esegui(const QString& sql, const QVariantList& valori = {});

    // The error for a failure on `oggetto`: the number by SQLSTATE (a missing table whose
    // schema is missing too is a missing file), the object as detail, the server's text apart.
    // A lost connection is not given back to the pool.
    ErroreQvr errore(const QSqlError& e, const QString& schema, const QString& oggetto);

    // Not given back to the pool: closed when the object goes.
    void scarta() { m_scartata = true; }

    // A longer bound for the statements of this connection (creating a database or an
    // archive, waiting for other stations' locks): the server's statement bound becomes
    // `millisecondi` and the client's one second more. The connection is not given back to the
    // pool afterwards.
    std::optional<QSqlError> impostaLimiteRisposta(qint64 millisecondi);

private:
    void apri();
    // Runs `testo` while the watch over the answer runs; false on a failure, with `scaduta` set
    // when the client gave up waiting (the connection is then cut).
    bool eseguiSorvegliato(QSqlQuery& q, const QString& testo, bool* scaduta);
    QString m_uri;
    Ambito m_ambito;
    QString m_nome;
    bool m_riusata = false;
    bool m_usata = false;
    bool m_scartata = false;
    bool m_transazione = false;
    qint64 m_rispostaMs = 0;
    qint64 m_istruzioneMs = 0; // the session's statement_timeout (0: none)
    bool m_limiteProprio = false;
    bool m_senzaRisposta = false;
};

// Closes every idle connection of the calling thread's pool (a program about to end, a test
// that stops the server).
void chiudiConnessioni();
// Idle connections of the calling thread's pool.
int connessioniInAttesa();

// Creates the database of `uri` when it is missing (connecting to the server's `postgres`
// database); 3044 when the server cannot be reached.
void creaDatabase(const QString& uri);

} // namespace qvr::server
