#include "ufficio/transazione.h"

#include "archive/cursore.h"
#include "archive/errori_sql.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <atomic>
#include <optional>

namespace qvr::ufficio {

namespace {

std::atomic<int> g_connessioni{0};

// The file as an SQLite URI opened read-write and never created.
QString uriFile(const QString& nativo) {
    QString uri = QStringLiteral("file:");
    if (nativo.startsWith(QLatin1Char('/')))
        uri += QStringLiteral("//");
    return uri + QString::fromLatin1(QUrl::toPercentEncoding(nativo, "/")) +
           QStringLiteral("?mode=rw");
}

} // namespace

struct Transazione::Dati {
    bool scrittura = false;
    bool aperta = false;
    // A folder archive.
    QString nativo;
    QString nome;
    // A server archive.
    std::optional<server::Connessione> conn;
    QString schema;

    QSqlDatabase db() const { return conn ? conn->db() : QSqlDatabase::database(nome, false); }

    ErroreQvr errore(const QSqlError& e, const QString& oggetto) {
        if (conn)
            return conn->errore(e, schema, oggetto);
        const QString dettaglio =
            oggetto.isEmpty() ? nativo : nativo + QStringLiteral(", ") + oggetto;
        return ErroreQvr(numeroDaSql(e, nativo), dettaglio,
                         e.databaseText().isEmpty() ? e.text() : e.databaseText());
    }

    std::optional<QSqlError> esegui(QSqlQuery& q, const QString& sql, const QVariantList& v) {
        if (conn)
            return conn->esegui(q, sql, v);
        if (!q.prepare(sql))
            return q.lastError();
        for (const QVariant& x : v)
            q.addBindValue(x);
        if (!q.exec())
            return q.lastError();
        return std::nullopt;
    }

    void apriFile(const QString& archivio, const QString& file) {
        nativo = fileArchivio(archivio, file);
        const QFileInfo info(nativo);
        if (!info.exists()) {
            const QFileInfo cartella(info.absolutePath());
            if (!cartella.isDir())
                throw ErroreQvr(Err::PercorsoNonValido, nativo);
            throw ErroreQvr(Err::DatabaseNonTrovato, nativo);
        }
        if (info.isDir() || info.size() == 0 || !info.isFile())
            throw ErroreQvr(Err::FormatoNonRiconosciuto, nativo);
        nome = QStringLiteral("qvr-ufficio-%1").arg(++g_connessioni);
        QSqlError fallita;
        {
            QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nome);
            c.setDatabaseName(uriFile(nativo));
            c.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                                    .arg(Cursore::timeoutOccupato()));
            if (!c.open())
                fallita = c.lastError();
        }
        if (fallita.isValid()) {
            const ErroreQvr e = errore(fallita, {});
            chiudiFile();
            throw e;
        }
    }

    void chiudiFile() {
        if (nome.isEmpty())
            return;
        {
            QSqlDatabase c = QSqlDatabase::database(nome, false);
            if (c.isOpen())
                c.close();
        }
        QSqlDatabase::removeDatabase(nome);
        nome.clear();
    }
};

Transazione::Transazione(const QString& archivio, const QString& file, bool scrittura)
    : d(std::make_unique<Dati>()) {
    d->scrittura = scrittura;
    if (eServer(archivio)) {
        d->conn.emplace(archivio);
        d->schema = server::schemaDelFile(file);
        d->nativo = server::uriPerMessaggi(archivio) + QLatin1Char('\\') + file;
    } else {
        d->apriFile(archivio, file);
    }
    const QString inizio =
        (!d->conn && scrittura) ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN");
    QSqlQuery q(d->db());
    if (const auto e = d->esegui(q, inizio, {})) {
        const ErroreQvr errore = d->errore(*e, {});
        q = QSqlQuery();
        d->chiudiFile();
        throw errore;
    }
    d->aperta = true;
}

Transazione::~Transazione() {
    if (d->aperta) {
        QSqlQuery q(d->db());
        (void)d->esegui(q, QStringLiteral("ROLLBACK"), {});
    }
    d->chiudiFile();
}

bool Transazione::suServer() const {
    return d->conn.has_value();
}

QString Transazione::tabella(const QString& nome) const {
    return d->conn ? server::tabella(d->schema, nome) : campo(nome, false);
}

QString Transazione::campo(const QString& nome, bool server) {
    // Brackets on SQLite: a double-quoted name that matches no column would be taken as text.
    return server ? server::identificatore(nome) : QLatin1Char('[') + nome + QLatin1Char(']');
}

QString Transazione::perModifica() const {
    return d->conn && d->scrittura ? QStringLiteral(" FOR UPDATE") : QString();
}

QVector<QSqlRecord> Transazione::righe(const QString& sql, const QVariantList& valori,
                                       const QString& oggetto) {
    QVector<QSqlRecord> elenco;
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (const auto e = d->esegui(q, sql, valori))
        throw d->errore(*e, oggetto);
    while (q.next())
        elenco.push_back(q.record());
    if (q.lastError().isValid())
        throw d->errore(q.lastError(), oggetto);
    return elenco;
}

int Transazione::esegui(const QString& sql, const QVariantList& valori, const QString& oggetto) {
    QSqlQuery q(d->db());
    if (const auto e = d->esegui(q, sql, valori))
        throw d->errore(*e, oggetto);
    return q.numRowsAffected();
}

void Transazione::conferma() {
    QSqlQuery q(d->db());
    if (const auto e = d->esegui(q, QStringLiteral("COMMIT"), {}))
        throw d->errore(*e, {});
    d->aperta = false;
}

} // namespace qvr::ufficio
