#include "archive/copia_archivio.h"

#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/errori_sql.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <map>
#include <memory>
#include <vector>

namespace qvr {

namespace {

using Righe = std::vector<QVariantList>;

QString parentesi(const QString& nome) {
    return QLatin1Char('[') + nome + QLatin1Char(']');
}

// One database file of an archive on either engine, opened for the copy.
class Sorgente {
public:
    Sorgente(const QString& archivio, const QString& file, bool scrittura)
        : m_file(file), m_server(eServer(archivio)) {
        if (m_server) {
            m_conn = std::make_unique<server::Connessione>(archivio);
            m_schema = server::schemaDelFile(file);
            m_nome = server::uriPerMessaggi(archivio) + QLatin1Char('\\') + file;
            return;
        }
        m_nome = fileArchivio(archivio, file);
        if (!QFileInfo::exists(m_nome))
            throw ErroreQvr(QFileInfo(QFileInfo(m_nome).absolutePath()).isDir()
                                ? Err::DatabaseNonTrovato
                                : Err::PercorsoNonValido,
                            m_nome);
        m_connessione = QStringLiteral("qvr-copia-") + QUuid::createUuid().toString();
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connessione);
        QString uri = QStringLiteral("file:");
        if (m_nome.startsWith(QLatin1Char('/')))
            uri += QStringLiteral("//");
        uri += QString::fromLatin1(QUrl::toPercentEncoding(m_nome, "/"));
        uri += scrittura ? QStringLiteral("?mode=rw") : QStringLiteral("?mode=ro");
        d.setDatabaseName(uri);
        d.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=30000") +
                            (scrittura ? QString() : QStringLiteral(";QSQLITE_OPEN_READONLY")));
        if (!d.open())
            throw ErroreQvr(numeroDaSql(d.lastError(), m_nome), m_nome, d.lastError().text());
    }
    ~Sorgente() {
        if (m_connessione.isEmpty())
            return;
        {
            QSqlDatabase d = QSqlDatabase::database(m_connessione, false);
            d.close();
        }
        QSqlDatabase::removeDatabase(m_connessione);
    }
    Sorgente(const Sorgente&) = delete;
    Sorgente& operator=(const Sorgente&) = delete;

    QString nome() const { return m_nome; }

    // Every row of a table, the given fields in this order, in the table's row order.
    Righe leggi(const QString& tabella, const QStringList& campi) {
        QStringList colonne;
        for (const QString& c : campi)
            colonne << nomeCampo(c);
        const QString sql = QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                                .arg(colonne.join(u", "), nomeTabella(tabella),
                                     m_server ? server::identificatore(server::ColonnaChiave)
                                              : QStringLiteral("rowid"));
        QSqlQuery q(db());
        q.setForwardOnly(true);
        esegui(q, sql, {}, tabella);
        Righe righe;
        while (q.next()) {
            QVariantList r;
            for (int i = 0; i < campi.size(); ++i)
                r << q.value(i);
            righe.push_back(std::move(r));
        }
        return righe;
    }

    void inizia() {
        esegui(m_server ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
    }
    void conferma() { esegui(QStringLiteral("COMMIT")); }
    void annulla() noexcept {
        QSqlQuery q(db());
        q.exec(QStringLiteral("ROLLBACK"));
    }

    // Replaces every row of a table with `righe`.
    void sostituisci(const QString& tabella, const QStringList& campi, const Righe& righe) {
        esegui(QStringLiteral("DELETE FROM ") + nomeTabella(tabella), {}, tabella);
        QStringList colonne;
        QStringList segnaposto;
        for (const QString& c : campi) {
            colonne << nomeCampo(c);
            segnaposto << QStringLiteral("?");
        }
        const QString sql =
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(nomeTabella(tabella), colonne.join(u", "), segnaposto.join(u", "));
        for (const QVariantList& r : righe)
            esegui(sql, r, tabella);
    }

private:
    QSqlDatabase db() const {
        return m_server ? m_conn->db() : QSqlDatabase::database(m_connessione, false);
    }
    QString nomeTabella(const QString& t) const {
        return m_server ? server::tabella(m_schema, t) : parentesi(t);
    }
    QString nomeCampo(const QString& c) const {
        return m_server ? server::identificatore(c) : parentesi(c);
    }
    void esegui(const QString& sql, const QVariantList& valori = {}, const QString& oggetto = {}) {
        QSqlQuery q(db());
        esegui(q, sql, valori, oggetto);
    }
    void esegui(QSqlQuery& q, const QString& sql, const QVariantList& valori,
                const QString& oggetto) {
        const QString dettaglio =
            oggetto.isEmpty() ? m_nome : m_nome + QStringLiteral(", ") + oggetto;
        if (m_server) {
            if (const auto e = m_conn->esegui(q, sql, valori))
                throw m_conn->errore(*e, m_schema, m_file + QStringLiteral(", ") + oggetto);
            return;
        }
        bool ok = false;
        if (valori.isEmpty()) {
            ok = q.exec(sql);
        } else {
            ok = q.prepare(sql);
            for (const QVariant& v : valori)
                q.addBindValue(v);
            ok = ok && q.exec();
        }
        if (!ok)
            throw ErroreQvr(numeroDaSql(q.lastError(), m_nome), dettaglio, q.lastError().text());
    }

    QString m_file;
    bool m_server;
    QString m_nome;
    QString m_schema;
    QString m_connessione;
    std::unique_ptr<server::Connessione> m_conn;
};

// The counter's raw text.
QByteArray leggiContatoreGrezzo(const QString& archivio) {
    if (eServer(archivio)) {
        server::Connessione c(archivio, server::Ambito::Contatore);
        QSqlQuery q(c.db());
        q.setForwardOnly(true);
        if (const auto e = c.esegui(
                q, QStringLiteral("SELECT %1 FROM %2 ORDER BY %3 LIMIT 1")
                       .arg(server::identificatore(server::CampoValore),
                            server::tabella(server::SchemaContatore, server::TabellaContatore),
                            server::identificatore(server::ColonnaChiave))))
            throw c.errore(*e, {}, nomi::FileContatore);
        if (!q.next())
            throw ErroreQvr(Err::FileNonTrovato,
                            server::uriPerMessaggi(archivio) + QStringLiteral("\\Nr4All.txt"));
        return q.value(0).toString().toLatin1();
    }
    const QString file = fileArchivio(archivio, nomi::FileContatore);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw ErroreQvr(f.exists() ? Err::AccessoNegato : Err::FileNonTrovato, file);
    return f.read(4096);
}

void scriviContatoreGrezzo(const QString& archivio, const QByteArray& testo) {
    if (eServer(archivio)) {
        server::Connessione c(archivio, server::Ambito::Contatore);
        if (const auto e = c.esegui(
                QStringLiteral("UPDATE %1 SET %2 = ?")
                    .arg(server::tabella(server::SchemaContatore, server::TabellaContatore),
                         server::identificatore(server::CampoValore)),
                {QString::fromLatin1(testo)}))
            throw c.errore(*e, {}, nomi::FileContatore);
        return;
    }
    // The file made a moment ago by creaArchivio, overwritten in place.
    const QString file = fileArchivio(archivio, nomi::FileContatore);
    QFile f(file);
    if (!f.open(QIODevice::ReadWrite) || f.write(testo) != testo.size() || !f.resize(testo.size()))
        throw ErroreQvr(Err::ErroreIO, file + QStringLiteral(": ") + f.errorString());
}

bool numerico(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::Long:
        return true;
    default:
        return false;
    }
}

// The same value on both engines: Null is Null, numbers compare as numbers (an integer column
// on one side and a floating one on the other hold the same 25), texts exactly.
bool uguali(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    if (numerico(a) && numerico(b))
        return a.toDouble() == b.toDouble();
    return a.toString() == b.toString();
}

QString mostra(const QVariant& v) {
    return v.isNull() ? QStringLiteral("Null") : v.toString();
}

// The tables of the layout grouped by file, in order.
std::vector<std::pair<QString, std::vector<TabellaArchivio>>> perFile() {
    std::vector<std::pair<QString, std::vector<TabellaArchivio>>> gruppi;
    for (TabellaArchivio& t : tabelleArchivio()) {
        if (gruppi.empty() || gruppi.back().first != t.file)
            gruppi.push_back({t.file, {}});
        gruppi.back().second.push_back(std::move(t));
    }
    return gruppi;
}

} // namespace

void copiaArchivio(const QString& da, const QString& a, bool sovrascrivi) {
    // Everything is read first: a source that cannot be read leaves the destination untouched.
    std::map<QString, Righe> letto;
    for (const auto& [file, tabelle] : perFile()) {
        Sorgente s(da, file, false);
        for (const TabellaArchivio& t : tabelle)
            letto[file + QLatin1Char('/') + t.tabella] = s.leggi(t.tabella, t.campi);
    }
    const QByteArray contatore = leggiContatoreGrezzo(da);

    creaArchivio(a, {}, sovrascrivi);
    for (const auto& [file, tabelle] : perFile()) {
        Sorgente d(a, file, true);
        d.inizia();
        try {
            for (const TabellaArchivio& t : tabelle)
                d.sostituisci(t.tabella, t.campi, letto[file + QLatin1Char('/') + t.tabella]);
            d.conferma();
        } catch (...) {
            d.annulla();
            throw;
        }
    }
    scriviContatoreGrezzo(a, contatore);
}

QStringList confrontaArchivi(const QString& da, const QString& a) {
    QStringList differenze;
    for (const auto& [file, tabelle] : perFile()) {
        std::unique_ptr<Sorgente> s;
        std::unique_ptr<Sorgente> d;
        try {
            s = std::make_unique<Sorgente>(da, file, false);
            d = std::make_unique<Sorgente>(a, file, false);
        } catch (const ErroreQvr& e) {
            differenze << file + QStringLiteral(": ") + e.testoCompleto();
            continue;
        }
        for (const TabellaArchivio& t : tabelle) {
            Righe rs;
            Righe rd;
            try {
                rs = s->leggi(t.tabella, t.campi);
                rd = d->leggi(t.tabella, t.campi);
            } catch (const ErroreQvr& e) {
                differenze << file + QLatin1Char(' ') + t.tabella + QStringLiteral(": ") +
                                  e.testoCompleto();
                continue;
            }
            if (rs.size() != rd.size())
                differenze << QStringLiteral("%1 %2: righe %3 / %4")
                                  .arg(file, t.tabella)
                                  .arg(rs.size())
                                  .arg(rd.size());
            for (std::size_t r = 0; r < std::min(rs.size(), rd.size()); ++r)
                for (int c = 0; c < t.campi.size(); ++c)
                    if (!uguali(rs[r][c], rd[r][c]))
                        differenze << QStringLiteral("%1 %2 riga %3 %4: %5 / %6")
                                          .arg(file, t.tabella)
                                          .arg(r + 1)
                                          .arg(t.campi[c], mostra(rs[r][c]), mostra(rd[r][c]));
        }
    }
    try {
        const QByteArray cs = leggiContatoreGrezzo(da);
        const QByteArray cd = leggiContatoreGrezzo(a);
        if (cs != cd)
            differenze << QStringLiteral("Nr4All.txt: %1 / %2")
                              .arg(QString::fromLatin1(cs.toPercentEncoding()),
                                   QString::fromLatin1(cd.toPercentEncoding()));
    } catch (const ErroreQvr& e) {
        differenze << QStringLiteral("Nr4All.txt: ") + e.testoCompleto();
    }
    return differenze;
}

} // namespace qvr
