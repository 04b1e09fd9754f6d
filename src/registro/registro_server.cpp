#include "registro/registro_server.h"

#include "archive/server.h"
#include "registro/codice_biglietto.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace qvr::registro {

namespace {

// The layout, one step per version (the same steps as the file's, in the server's words). Each
// step is a list of statements, run in one transaction with the version's update.
const QStringList MigrazioniServer[] = {
    // 0 -> 1
    {
        QStringLiteral("CREATE TABLE %1.\"Eventi\" ("
                       " \"Seq\" bigint PRIMARY KEY,"
                       " \"OraUtcMs\" bigint NOT NULL,"
                       " \"Scostamento\" integer NOT NULL,"
                       " \"Ora\" text NOT NULL,"
                       " \"Tipo\" text NOT NULL,"
                       " \"Sequenza\" integer NOT NULL DEFAULT 0,"
                       " \"Postazione\" integer NOT NULL DEFAULT 0,"
                       " \"Numero\" integer NOT NULL DEFAULT 0,"
                       " \"Singola\" boolean NOT NULL DEFAULT false,"
                       " \"Richiamo\" boolean NOT NULL DEFAULT false,"
                       " \"Dettaglio\" text NOT NULL DEFAULT '',"
                       " \"Registratore\" text NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE INDEX ON %1.\"Eventi\" (\"OraUtcMs\")"),
        QStringLiteral("CREATE TABLE %1.\"Stato\" (\"Chiave\" text PRIMARY KEY, "
                       "\"Valore\" text NOT NULL)"),
    },
    // 1 -> 2
    {
        QStringLiteral("ALTER TABLE %1.\"Eventi\" ADD COLUMN \"Codice\" text NOT NULL DEFAULT ''"),
    },
};
static_assert(std::size(MigrazioniServer) == VersioneSchema);

// Serialises two programs preparing the same journal at once (pg_advisory_xact_lock).
constexpr qint64 ChiaveMigrazione = 0x71767200'0000'0002;

const char* const ChiaveStato = "osservatore";
const char* const ChiaveCodici = "biglietti";
const char* const Colonne = "\"Seq\", \"OraUtcMs\", \"Scostamento\", \"Tipo\", \"Sequenza\", "
                            "\"Postazione\", \"Numero\", \"Singola\", \"Richiamo\", \"Dettaglio\", "
                            "\"Registratore\"";
// Sequence numbers read per statement: a year's journal is read in slices, never all at once.
constexpr int Fetta = 20000;
// Rows per INSERT statement.
constexpr int RighePerIstruzione = 200;

// The SQLite code of the same kind as an error number (see ErroreRegistro).
int codiceDaNumero(int numero) {
    switch (numero) {
    case Err::TabellaNonTrovata:
    case Err::CampoNonTrovato:
    case Err::DatabaseDanneggiato:
        return SQLITE_CORRUPT;
    case Err::DatabaseNonTrovato:
        return SQLITE_CANTOPEN;
    case Err::DiscoPieno:
        return SQLITE_FULL;
    case Err::SolaLettura:
        return SQLITE_READONLY;
    case Err::AccessoNegato:
        return SQLITE_PERM;
    case Err::RecordBloccato:
        return SQLITE_BUSY;
    case Err::PercorsoNonValido:
    case Err::ErroreDiscoRete:
        return SQLITE_IOERR;
    default:
        return SQLITE_ERROR;
    }
}

ErroreRegistro comeErroreRegistro(const ErroreQvr& e) {
    QString dettaglio = e.dettaglio();
    if (!e.testoMotore().isEmpty())
        dettaglio += QStringLiteral(": ") + e.testoMotore();
    return ErroreRegistro(e.numero(), dettaglio, codiceDaNumero(e.numero()));
}

Evento eventoDaRecord(const QSqlQuery& q, bool leggero, bool* noto) {
    Evento e;
    const std::optional<Tipo> tipo = tipoDaNome(q.value(3).toString());
    *noto = tipo.has_value();
    e.tipo = tipo.value_or(Tipo::Passaggio);
    e.seq = q.value(0).toLongLong();
    e.oraUtcMs = q.value(1).toLongLong();
    e.scostamento = q.value(2).toInt();
    e.sequenza = q.value(4).toInt();
    e.postazione = q.value(5).toInt();
    e.numero = q.value(6).toInt();
    e.singola = q.value(7).toBool();
    e.richiamo = q.value(8).toBool();
    const bool ufficio = e.tipo == Tipo::Biglietto || e.tipo == Tipo::Chiamata ||
                         e.tipo == Tipo::Attesa || e.tipo == Tipo::Assente ||
                         e.tipo == Tipo::Azzeramento;
    if (!leggero || !ufficio || !*noto) {
        e.dettaglio = q.value(9).toString();
        e.registratore = q.value(10).toString();
    }
    if (e.tipo == Tipo::Biglietto)
        e.codice = q.value(11).toString();
    return e;
}

} // namespace

RegistroServer::RegistroServer(QString uri, QString schema)
    : m_uri(std::move(uri)), m_schema(std::move(schema)) {}

RegistroServer::~RegistroServer() {
    chiudi();
}

QString RegistroServer::nome() const {
    return server::uriPerMessaggi(m_uri) + QLatin1Char('\\') + m_schema;
}

QString RegistroServer::tab(const char* nome) const {
    return server::tabella(m_schema, QString::fromLatin1(nome));
}

void RegistroServer::chiudi() {
    m_conn.reset();
    m_versione = 0;
    m_chiave.clear();
}

QString RegistroServer::colonne() const {
    // A journal of version 1, read as it is, has no codes.
    return QString::fromLatin1(Colonne) +
           (m_versione >= 2 ? QStringLiteral(", \"Codice\"") : QStringLiteral(", ''"));
}

void RegistroServer::preparaChiave() {
    try {
        esegui(QStringLiteral("INSERT INTO %1 (\"Chiave\", \"Valore\") VALUES (?, ?) ON CONFLICT "
                              "(\"Chiave\") DO NOTHING")
                   .arg(tab("Stato")),
               {QString::fromLatin1(ChiaveCodici), QString::fromLatin1(nuovaChiave())});
        m_chiave = chiaveBiglietti();
    } catch (...) {
        chiudi();
        throw;
    }
}

QByteArray RegistroServer::chiaveBiglietti() {
    if (!m_chiave.isEmpty())
        return m_chiave;
    QSqlQuery q(m_conn->db());
    q.setForwardOnly(true);
    if (const auto e = m_conn->esegui(
            q, QStringLiteral("SELECT \"Valore\" FROM %1 WHERE \"Chiave\" = ?").arg(tab("Stato")),
            {QString::fromLatin1(ChiaveCodici)}))
        fallisci(*e, QStringLiteral("Stato"));
    return q.next() ? q.value(0).toString().toLatin1() : QByteArray();
}

void RegistroServer::fallisci(const QSqlError& e, const QString& oggetto) {
    ErroreQvr x = m_conn->errore(e, m_schema, m_schema + QLatin1Char('.') + oggetto);
    // A statement that failed inside a transaction leaves it aborted: it is ended here, and a
    // connection that is gone is opened anew next time.
    if (server::connessionePersa(e)) {
        m_conn->scarta();
        m_conn.reset();
    } else {
        m_conn->esegui(QStringLiteral("ROLLBACK"));
    }
    // Something of another kind where the journal's tables should be is a damaged journal.
    if (server::statoSql(e) == QLatin1String("42P07") ||
        server::statoSql(e) == QLatin1String("42804"))
        x = ErroreQvr(Err::DatabaseDanneggiato, x.dettaglio(), x.testoMotore());
    throw comeErroreRegistro(x);
}

void RegistroServer::esegui(const QString& sql, const QVariantList& valori) {
    if (const auto e = m_conn->esegui(sql, valori))
        fallisci(*e, sql.section(QLatin1Char(' '), 0, 2));
}

void RegistroServer::apri(bool scrittura) {
    chiudi();
    try {
        m_conn = std::make_unique<server::Connessione>(m_uri);
    } catch (const ErroreQvr& e) {
        throw comeErroreRegistro(e);
    }
    if (scrittura) {
        migra();
        verificaTabelle();
        m_versione = VersioneSchema;
        preparaChiave();
        return;
    }
    try {
        const int v = versione();
        if (v > VersioneSchema)
            throw ErroreRegistro(Err::FormatoNonRiconosciuto,
                                 nome() + QStringLiteral(": versione %1 del registro, più recente "
                                                         "di questo programma (%2)")
                                              .arg(v)
                                              .arg(VersioneSchema),
                                 SQLITE_ERROR);
        // An older layout is read as it is: only a writer migrates it.
        if (v < 1)
            throw ErroreRegistro(Err::TabellaNonTrovata,
                                 nome() + QStringLiteral(": registro vuoto"), SQLITE_ERROR);
        m_versione = v;
    } catch (...) {
        chiudi();
        throw;
    }
}

void RegistroServer::apriScrittura() {
    apri(true);
}

void RegistroServer::apriLettura() {
    apri(false);
}

int RegistroServer::versione() {
    QSqlQuery q(m_conn->db());
    q.setForwardOnly(true);
    if (const auto e =
            m_conn->esegui(q, QStringLiteral("SELECT \"Versione\" FROM %1").arg(tab("Versione"))))
        fallisci(*e, QStringLiteral("Versione"));
    return q.next() ? q.value(0).toInt() : 0;
}

void RegistroServer::migra() {
    try {
        esegui(QStringLiteral("BEGIN"));
        esegui(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(ChiaveMigrazione));
        const QString s = server::identificatore(m_schema);
        esegui(QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1").arg(s));
        esegui(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\"Versione\" integer NOT NULL)")
                   .arg(tab("Versione")));
        QSqlQuery q(m_conn->db());
        q.setForwardOnly(true);
        if (const auto e = m_conn->esegui(
                q, QStringLiteral("SELECT \"Versione\" FROM %1").arg(tab("Versione"))))
            fallisci(*e, QStringLiteral("Versione"));
        const bool riga = q.next();
        const int v = riga ? q.value(0).toInt() : 0;
        q.finish();
        if (v > VersioneSchema) {
            esegui(QStringLiteral("ROLLBACK"));
            throw ErroreRegistro(Err::FormatoNonRiconosciuto,
                                 nome() + QStringLiteral(": versione %1 del registro, più recente "
                                                         "di questo programma (%2)")
                                              .arg(v)
                                              .arg(VersioneSchema),
                                 SQLITE_ERROR);
        }
        if (!riga)
            esegui(QStringLiteral("INSERT INTO %1 VALUES (0)").arg(tab("Versione")));
        for (int i = v; i < VersioneSchema; ++i) {
            for (const QString& passo : MigrazioniServer[i])
                esegui(passo.arg(s));
            esegui(
                QStringLiteral("UPDATE %1 SET \"Versione\" = %2").arg(tab("Versione")).arg(i + 1));
        }
        esegui(QStringLiteral("COMMIT"));
    } catch (...) {
        chiudi();
        throw;
    }
}

void RegistroServer::verificaTabelle() {
    try {
        esegui(QStringLiteral("SELECT %1, \"Codice\" FROM %2 LIMIT 0")
                   .arg(QString::fromLatin1(Colonne), tab("Eventi")));
        esegui(QStringLiteral("SELECT \"Chiave\", \"Valore\" FROM %1 LIMIT 0").arg(tab("Stato")));
    } catch (const ErroreRegistro& e) {
        chiudi();
        if (e.numero() == Err::TabellaNonTrovata || e.numero() == Err::CampoNonTrovato)
            throw ErroreRegistro(Err::DatabaseDanneggiato, e.dettaglio(), SQLITE_CORRUPT);
        throw;
    }
}

void RegistroServer::aggiungi(std::vector<Evento>& eventi, const std::optional<QString>& stato) {
    if (!m_conn)
        apriScrittura();
    if (eventi.empty() && !stato)
        return;
    for (Evento& e : eventi)
        if (e.tipo == Tipo::Biglietto && e.codice.isEmpty())
            e.codice = codiceBiglietto(m_chiave, e.data(), e.sequenza, e.numero);
    try {
        esegui(QStringLiteral("BEGIN"));
        // The write lock of the file's BEGIN IMMEDIATE: readers go on, another writer waits.
        esegui(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE").arg(tab("Eventi")));
        qint64 seq = 0;
        {
            QSqlQuery q(m_conn->db());
            q.setForwardOnly(true);
            if (const auto e = m_conn->esegui(
                    q,
                    QStringLiteral("SELECT coalesce(max(\"Seq\"), 0) FROM %1").arg(tab("Eventi"))))
                fallisci(*e, QStringLiteral("Eventi"));
            seq = q.next() ? q.value(0).toLongLong() : 0;
        }
        for (size_t i = 0; i < eventi.size(); i += RighePerIstruzione) {
            const size_t fine = std::min(eventi.size(), i + RighePerIstruzione);
            QStringList righe;
            QVariantList valori;
            for (size_t j = i; j < fine; ++j) {
                const Evento& e = eventi[j];
                righe << QStringLiteral("(?,?,?,?,?,?,?,?,?,?,?,?,?)");
                valori << QVariant(seq + qint64(j) + 1) << QVariant(e.oraUtcMs)
                       << QVariant(e.scostamento) << e.ora().toString(Qt::ISODateWithMs)
                       << nomeTipo(e.tipo) << QVariant(e.sequenza) << QVariant(e.postazione)
                       << QVariant(e.numero) << QVariant(e.singola) << QVariant(e.richiamo)
                       << e.dettaglio << e.registratore << e.codice;
            }
            esegui(QStringLiteral("INSERT INTO %1 (\"Seq\", \"OraUtcMs\", \"Scostamento\", "
                                  "\"Ora\", \"Tipo\", \"Sequenza\", \"Postazione\", \"Numero\", "
                                  "\"Singola\", \"Richiamo\", \"Dettaglio\", \"Registratore\", "
                                  "\"Codice\") VALUES %2")
                       .arg(tab("Eventi"), righe.join(u',')),
                   valori);
        }
        if (stato)
            esegui(QStringLiteral("INSERT INTO %1 (\"Chiave\", \"Valore\") VALUES (?, ?) ON "
                                  "CONFLICT (\"Chiave\") DO UPDATE SET \"Valore\" = "
                                  "EXCLUDED.\"Valore\"")
                       .arg(tab("Stato")),
                   {QString::fromLatin1(ChiaveStato), *stato});
        esegui(QStringLiteral("COMMIT"));
        for (size_t j = 0; j < eventi.size(); ++j)
            eventi[j].seq = seq + qint64(j) + 1;
    } catch (...) {
        for (Evento& e : eventi)
            e.seq = 0;
        throw;
    }
}

QString RegistroServer::stato() {
    QSqlQuery q(m_conn->db());
    q.setForwardOnly(true);
    if (const auto e = m_conn->esegui(
            q, QStringLiteral("SELECT \"Valore\" FROM %1 WHERE \"Chiave\" = ?").arg(tab("Stato")),
            {QString::fromLatin1(ChiaveStato)}))
        fallisci(*e, QStringLiteral("Stato"));
    return q.next() ? q.value(0).toString() : QString();
}

std::optional<Evento> RegistroServer::ultimo() {
    QSqlQuery q(m_conn->db());
    q.setForwardOnly(true);
    if (const auto e = m_conn->esegui(q, QStringLiteral("SELECT %1 FROM %2 ORDER BY \"Seq\" DESC "
                                                        "LIMIT 1")
                                             .arg(colonne(), tab("Eventi"))))
        fallisci(*e, QStringLiteral("Eventi"));
    if (!q.next())
        return std::nullopt;
    bool noto = false;
    return eventoDaRecord(q, false, &noto); // a kind of a later version: at least not a stop
}

void RegistroServer::leggiCon(qint64 dal, qint64 al, bool leggero, void (*f)(void*, const Evento&),
                              void* dati) {
    // The range's first and last sequence numbers through the time index, then its rows in key
    // order, a bounded span of keys at a time, through the key alone ("+ 0" keeps the planner off
    // the time index). Each statement names both ends of its span: with only a lower end and a
    // LIMIT, a planner without statistics of a freshly filled journal chose to read and sort the
    // whole rest of the range for every slice.
    qint64 dopo = 0, ultimo = -1;
    {
        QSqlQuery q(m_conn->db());
        q.setForwardOnly(true);
        if (const auto e = m_conn->esegui(
                q,
                QStringLiteral("SELECT min(\"Seq\"), max(\"Seq\") FROM %1 WHERE \"OraUtcMs\" "
                               ">= ? AND \"OraUtcMs\" < ?")
                    .arg(tab("Eventi")),
                {QVariant(dal), QVariant(al)}))
            fallisci(*e, QStringLiteral("Eventi"));
        if (!q.next() || q.value(0).isNull())
            return;
        dopo = q.value(0).toLongLong() - 1;
        ultimo = q.value(1).toLongLong();
    }
    while (dopo < ultimo) {
        const qint64 fine = std::min(ultimo, dopo + Fetta);
        QSqlQuery q(m_conn->db());
        q.setForwardOnly(true);
        if (const auto e = m_conn->esegui(
                q,
                QStringLiteral("SELECT %1 FROM %2 WHERE \"Seq\" > ? AND \"Seq\" <= ? AND "
                               "\"OraUtcMs\" + 0 >= ? AND \"OraUtcMs\" + 0 < ? ORDER BY \"Seq\"")
                    .arg(colonne(), tab("Eventi")),
                {QVariant(dopo), QVariant(fine), QVariant(dal), QVariant(al)}))
            fallisci(*e, QStringLiteral("Eventi"));
        while (q.next()) {
            bool noto = false;
            const Evento e = eventoDaRecord(q, leggero, &noto);
            if (noto) // a kind this version does not know is skipped
                f(dati, e);
        }
        dopo = fine;
    }
}

QString RegistroServer::accantona(const QDateTime& ora) {
    chiudi();
    try {
        server::Connessione c(m_uri);
        const QString base = m_schema + QStringLiteral("_danneggiato_") +
                             ora.toString(QStringLiteral("yyyyMMdd_HHmmss"));
        auto esiste = [&](const QString& s) {
            QSqlQuery q(c.db());
            q.setForwardOnly(true);
            if (const auto e = c.esegui(
                    q, QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ?"), {s}))
                throw c.errore(*e, QString(), QStringLiteral("pg_namespace"));
            return q.next();
        };
        QString nuovo = base;
        for (int i = 2; esiste(nuovo); ++i)
            nuovo = base + QStringLiteral("_%1").arg(i);
        if (const auto e =
                c.esegui(QStringLiteral("ALTER SCHEMA %1 RENAME TO %2")
                             .arg(server::identificatore(m_schema), server::identificatore(nuovo))))
            throw c.errore(*e, QString(), m_schema);
        return server::uriPerMessaggi(m_uri) + QLatin1Char('\\') + nuovo;
    } catch (const ErroreRegistro&) {
        throw;
    } catch (const ErroreQvr& e) {
        throw comeErroreRegistro(e);
    }
}

} // namespace qvr::registro
