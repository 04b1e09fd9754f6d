#include "registro/letture.h"

#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "registro/registro.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <limits>

namespace qvr::registro {

namespace {

// The first row of `tabella` in the database `nativo`, handed to `riga` column by column.
void primaRiga(const QString& nativo, const QString& tabella,
               const std::function<void(sqlite3_stmt*)>& riga) {
    const QFileInfo info(nativo);
    if (!info.exists())
        throw ErroreQvr(QFileInfo(info.absolutePath()).isDir() ? Err::DatabaseNonTrovato
                                                               : Err::PercorsoNonValido,
                        nativo);
    sqlite3* db = nullptr;
    const QByteArray nome = QFile::encodeName(nativo);
    int c = sqlite3_open_v2(nome.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    auto fallisci = [&](int codice) {
        const QString testo = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(codice));
        int numero = numeroDaCodice(codice);
        if ((codice & 0xff) == SQLITE_ERROR && testo.contains(QStringLiteral("no such table")))
            numero = Err::TabellaNonTrovata;
        sqlite3_close_v2(db);
        throw ErroreQvr(numero,
                        nativo + QStringLiteral(", ") + tabella + QStringLiteral(": ") + testo);
    };
    if (c != SQLITE_OK)
        fallisci(c);
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = QStringLiteral("SELECT * FROM [%1] LIMIT 1").arg(tabella).toUtf8();
    c = sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    if (c != SQLITE_OK)
        fallisci(c);
    c = sqlite3_step(st);
    if (c == SQLITE_DONE) {
        sqlite3_finalize(st);
        sqlite3_close_v2(db);
        throw ErroreQvr(Err::NessunRecordCorrente, nativo + QStringLiteral(", ") + tabella);
    }
    if (c != SQLITE_ROW) {
        sqlite3_finalize(st);
        fallisci(c);
    }
    try {
        riga(st);
    } catch (...) {
        sqlite3_finalize(st);
        sqlite3_close_v2(db);
        throw;
    }
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
}

int colonna(sqlite3_stmt* st, const QString& nome, const QString& dove) {
    const int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i)
        if (nome.compare(QString::fromUtf8(sqlite3_column_name(st, i)), Qt::CaseInsensitive) == 0)
            return i;
    throw ErroreQvr(Err::CampoNonTrovato, dove + QStringLiteral(".") + nome);
}

qint32 numero(sqlite3_stmt* st, int i, const QString& dove) {
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL:
        return 0;
    case SQLITE_INTEGER: {
        const sqlite3_int64 v = sqlite3_column_int64(st, i);
        if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
            throw ErroreQvr(Err::Overflow, dove);
        return static_cast<qint32>(v);
    }
    case SQLITE_FLOAT: {
        const double v = sqlite3_column_double(st, i);
        if (!(v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max()))
            throw ErroreQvr(Err::Overflow, dove);
        return static_cast<qint32>(std::llround(v));
    }
    default: {
        bool ok = false;
        const QString t =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i))).trimmed();
        const qint32 v = t.toInt(&ok);
        if (!ok)
            throw ErroreQvr(Err::TipoNonCorrispondente,
                            dove + QStringLiteral(": \"") + t + QStringLiteral("\""));
        return v;
    }
    }
}

// The first row of `tabella` of the archive file `file` on the server `uri`.
QSqlRecord primaRigaServer(const QString& uri, const QString& file, const QString& tabella) {
    const QString schema = server::schemaDelFile(file);
    server::Connessione c(uri);
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    if (const auto e = c.esegui(q, QStringLiteral("SELECT * FROM %1 ORDER BY %2 LIMIT 1")
                                       .arg(server::tabella(schema, tabella),
                                            server::identificatore(server::ColonnaChiave))))
        throw c.errore(*e, schema, tabella);
    if (!q.next()) {
        if (q.lastError().isValid())
            throw c.errore(q.lastError(), schema, tabella);
        throw ErroreQvr(Err::NessunRecordCorrente, server::uriPerMessaggi(uri) + QLatin1Char('\\') +
                                                       file + QStringLiteral(", ") + tabella);
    }
    return q.record();
}

QVariant campoServer(const QSqlRecord& r, const QString& nome, const QString& dove) {
    const int i = r.indexOf(nome);
    if (i < 0)
        throw ErroreQvr(Err::CampoNonTrovato, dove + QStringLiteral(".") + nome);
    return r.value(i);
}

} // namespace

Contatori leggiContatori(const QString& cartella) {
    Contatori c{};
    if (eServer(cartella)) {
        const QSqlRecord r = primaRigaServer(cartella, nomi::FileTotem, nomi::TabNumerazione);
        for (int s = 1; s <= nomi::NumeroSequenze; ++s) {
            const QVariant v = campoServer(r, nomi::campoP(s), nomi::TabNumerazione);
            c[s - 1] = v.isNull() ? 0
                                  : valori::comeLong(v, nomi::TabNumerazione + QStringLiteral(".") +
                                                            nomi::campoP(s));
        }
        return c;
    }
    const QString nativo = fileArchivio(cartella, nomi::FileTotem);
    primaRiga(nativo, nomi::TabNumerazione, [&](sqlite3_stmt* st) {
        for (int s = 1; s <= nomi::NumeroSequenze; ++s) {
            const QString campo = nomi::campoP(s);
            c[s - 1] = numero(st, colonna(st, campo, nomi::TabNumerazione),
                              nomi::TabNumerazione + QStringLiteral(".") + campo);
        }
    });
    return c;
}

biglietti::Regole leggiRegole(const QString& cartella) {
    biglietti::Regole r;
    if (eServer(cartella)) {
        const QSqlRecord riga = primaRigaServer(cartella, nomi::FileQVR, nomi::TabConfigurazione);
        auto siNo = [&](const QString& campo) {
            const QVariant v = campoServer(riga, campo, nomi::TabConfigurazione);
            return !v.isNull() && valori::comeSiNo(v);
        };
        r.dopo99Singola = siNo(nomi::CampoNovantanoveSingle);
        r.dopo99Standard = siNo(nomi::CampoNovantanoveStandard);
        return r;
    }
    const QString nativo = fileArchivio(cartella, nomi::FileQVR);
    primaRiga(nativo, nomi::TabConfigurazione, [&](sqlite3_stmt* st) {
        auto siNo = [&](const QString& campo) {
            const int i = colonna(st, campo, nomi::TabConfigurazione);
            if (sqlite3_column_type(st, i) == SQLITE_NULL)
                return false;
            if (sqlite3_column_type(st, i) == SQLITE_TEXT) {
                const QString t =
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
                return t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 ||
                       t == QStringLiteral("-1");
            }
            return sqlite3_column_int64(st, i) != 0;
        };
        r.dopo99Singola = siNo(nomi::CampoNovantanoveSingle);
        r.dopo99Standard = siNo(nomi::CampoNovantanoveStandard);
    });
    return r;
}

Impronte leggiImpronte(const QString& archivio) {
    if (!eServer(archivio)) {
        auto f = [&](const QString& nome) {
            return LettoreArchivio::improntaFile(fileArchivio(archivio, nome));
        };
        return {f(nomi::FileQVR), f(nomi::FileQVRA), f(nomi::FileQVRB), f(nomi::FileTotem)};
    }
    // The tables whose rows the recorder reads, per file.
    QStringList qvrb, qvra;
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        qvrb << nomi::tabNumeriCode(n);
        qvra << nomi::tabNumerazioneSingle(n);
    }
    qvrb << nomi::TabFE;
    const std::array<std::pair<QString, QStringList>, 4> file{{
        {nomi::FileQVR, {nomi::TabConfigurazione, nomi::TabPostazioneUtente, nomi::TabUtenti}},
        {nomi::FileQVRA, qvra},
        {nomi::FileQVRB, qvrb},
        {nomi::FileTotem, {nomi::TabNumerazione}},
    }};
    const QString chiave = server::identificatore(server::ColonnaChiave);
    QStringList colonne;
    for (const auto& [nome, tabelle] : file) {
        const QString schema = server::schemaDelFile(nome);
        QStringList parti;
        for (const QString& t : tabelle)
            parti << QStringLiteral("SELECT xmin::text || ':' || %1 AS x FROM %2")
                         .arg(chiave, server::tabella(schema, t));
        colonne << QStringLiteral("(SELECT string_agg(x, ',') FROM (%1) AS r)")
                       .arg(parti.join(u" UNION ALL "));
    }
    // Prepared once per session: the poll runs ten times a second, and planning a union of
    // 25 tables costs the server more than running it.
    server::Connessione c(archivio);
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    std::optional<QSqlError> e = c.esegui(q, QStringLiteral("EXECUTE qvr_impronte"));
    if (e && server::statoSql(*e) == QLatin1String("26000")) {
        if (!(e = c.esegui(QStringLiteral("PREPARE qvr_impronte AS SELECT ") +
                           colonne.join(u", "))))
            e = c.esegui(q, QStringLiteral("EXECUTE qvr_impronte"));
    }
    if (e)
        throw c.errore(*e, server::schemaDelFile(nomi::FileQVRB),
                       QStringLiteral("impronte dell'archivio"));
    if (!q.next())
        throw c.errore(q.lastError(), QString(), QStringLiteral("impronte dell'archivio"));
    auto marca = [&](int i) {
        ImprontaFile f;
        f.contatore = static_cast<quint32>(qHash(q.value(i).toString()));
        return f;
    };
    return {marca(0), marca(1), marca(2), marca(3)};
}

} // namespace qvr::registro
