#include "archive/copia_archivio.h"

#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/errori_sql.h"
#include "archive/motore.h"
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

using Righe = DatabaseCopia::Righe;

QString parentesi(const QString& nome) {
    return QLatin1Char('[') + nome + QLatin1Char(']');
}

// A database file of a folder archive, opened for the copy.
class DatabaseCopiaCartella : public DatabaseCopia {
public:
    DatabaseCopiaCartella(const QString& nativo, bool scrittura) : m_nome(nativo) {
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
    ~DatabaseCopiaCartella() override {
        {
            QSqlDatabase d = QSqlDatabase::database(m_connessione, false);
            d.close();
        }
        QSqlDatabase::removeDatabase(m_connessione);
    }

    void inizia() override { esegui(QStringLiteral("BEGIN IMMEDIATE"), {}, {}, nullptr); }
    void annulla() noexcept override {
        QSqlQuery q(QSqlDatabase::database(m_connessione, false));
        q.exec(QStringLiteral("ROLLBACK"));
    }

protected:
    QString nomeTabella(const QString& t) const override { return parentesi(t); }
    QString nomeCampo(const QString& c) const override { return parentesi(c); }
    QString ordine() const override { return QStringLiteral("rowid"); }
    void esegui(const QString& sql, const QVariantList& valori, const QString& oggetto,
                QSqlQuery* dove) override {
        QSqlQuery propria(QSqlDatabase::database(m_connessione, false));
        QSqlQuery& q = dove ? *dove : propria;
        const QString dettaglio =
            oggetto.isEmpty() ? m_nome : m_nome + QStringLiteral(", ") + oggetto;
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
    QSqlDatabase db() const override { return QSqlDatabase::database(m_connessione, false); }

private:
    QString m_nome;
    QString m_connessione;
};

// A database of a server archive (its schema), opened for the copy.
class DatabaseCopiaServer : public DatabaseCopia {
public:
    DatabaseCopiaServer(const QString& uri, const QString& file)
        : m_file(file), m_schema(server::schemaDelFile(file)), m_conn(uri) {}

    void inizia() override { esegui(QStringLiteral("BEGIN"), {}, {}, nullptr); }
    void annulla() noexcept override {
        QSqlQuery q(m_conn.db());
        q.exec(QStringLiteral("ROLLBACK"));
    }

protected:
    QString nomeTabella(const QString& t) const override { return server::tabella(m_schema, t); }
    QString nomeCampo(const QString& c) const override { return server::identificatore(c); }
    QString ordine() const override { return server::identificatore(server::ColonnaChiave); }
    void esegui(const QString& sql, const QVariantList& valori, const QString& oggetto,
                QSqlQuery* dove) override {
        QSqlQuery propria(m_conn.db());
        if (const auto e = m_conn.esegui(dove ? *dove : propria, sql, valori))
            throw m_conn.errore(*e, m_schema, m_file + QStringLiteral(", ") + oggetto);
    }
    QSqlDatabase db() const override { return m_conn.db(); }

private:
    QString m_file;
    QString m_schema;
    server::Connessione m_conn;
};

} // namespace

DatabaseCopia::Righe DatabaseCopia::leggi(const QString& tabella, const QStringList& campi) {
    QStringList colonne;
    for (const QString& c : campi)
        colonne << nomeCampo(c);
    const QString sql = QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                            .arg(colonne.join(u", "), nomeTabella(tabella), ordine());
    QSqlQuery q(db());
    q.setForwardOnly(true);
    esegui(sql, {}, tabella, &q);
    Righe righe;
    while (q.next()) {
        QVariantList r;
        for (int i = 0; i < campi.size(); ++i)
            r << q.value(i);
        righe.push_back(std::move(r));
    }
    return righe;
}

void DatabaseCopia::sostituisci(const QString& tabella, const QStringList& campi,
                                const Righe& righe) {
    esegui(QStringLiteral("DELETE FROM ") + nomeTabella(tabella), {}, tabella);
    QStringList colonne;
    QStringList segnaposto;
    for (const QString& c : campi) {
        colonne << nomeCampo(c);
        segnaposto << QStringLiteral("?");
    }
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(nomeTabella(tabella), colonne.join(u", "), segnaposto.join(u", "));
    for (const QVariantList& r : righe)
        esegui(sql, r, tabella);
}

std::unique_ptr<DatabaseCopia> MotoreCartella::apriCopia(const QString& file,
                                                         bool scrittura) const {
    return std::make_unique<DatabaseCopiaCartella>(fileArchivio(m_testo, file), scrittura);
}

std::unique_ptr<DatabaseCopia> MotoreServer::apriCopia(const QString& file, bool) const {
    return std::make_unique<DatabaseCopiaServer>(m_testo, file);
}

// The counter's raw text.
QByteArray MotoreServer::leggiContatoreGrezzo() const {
    server::Connessione c(m_testo, server::Ambito::Contatore);
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    if (const auto e =
            c.esegui(q, QStringLiteral("SELECT %1 FROM %2 ORDER BY %3 LIMIT 1")
                            .arg(server::identificatore(server::CampoValore),
                                 server::tabella(server::SchemaContatore, server::TabellaContatore),
                                 server::identificatore(server::ColonnaChiave))))
        throw c.errore(*e, {}, nomi::FileContatore);
    if (!q.next())
        throw ErroreQvr(Err::FileNonTrovato,
                        server::uriPerMessaggi(m_testo) + QStringLiteral("\\Nr4All.txt"));
    return q.value(0).toString().toLatin1();
}

QByteArray MotoreCartella::leggiContatoreGrezzo() const {
    const QString file = fileArchivio(m_testo, nomi::FileContatore);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw ErroreQvr(f.exists() ? Err::AccessoNegato : Err::FileNonTrovato, file);
    return f.read(4096);
}

void MotoreServer::scriviContatoreGrezzo(const QByteArray& testo) const {
    server::Connessione c(m_testo, server::Ambito::Contatore);
    if (const auto e =
            c.esegui(QStringLiteral("UPDATE %1 SET %2 = ?")
                         .arg(server::tabella(server::SchemaContatore, server::TabellaContatore),
                              server::identificatore(server::CampoValore)),
                     {QString::fromLatin1(testo)}))
        throw c.errore(*e, {}, nomi::FileContatore);
}

// The file made a moment ago by creaArchivio, overwritten in place.
void MotoreCartella::scriviContatoreGrezzo(const QByteArray& testo) const {
    const QString file = fileArchivio(m_testo, nomi::FileContatore);
    QFile f(file);
    if (!f.open(QIODevice::ReadWrite) || f.write(testo) != testo.size() || !f.resize(testo.size()))
        throw ErroreQvr(Err::ErroreIO, file + QStringLiteral(": ") + f.errorString());
}

namespace {

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
    const auto origine = MotoreArchivio::di(da);
    const auto destinazione = MotoreArchivio::di(a);
    // Everything is read first: a source that cannot be read leaves the destination untouched.
    std::map<QString, Righe> letto;
    for (const auto& [file, tabelle] : perFile()) {
        const auto s = origine->apriCopia(file, false);
        for (const TabellaArchivio& t : tabelle)
            letto[file + QLatin1Char('/') + t.tabella] = s->leggi(t.tabella, t.campi);
    }
    const QByteArray contatore = origine->leggiContatoreGrezzo();

    destinazione->crea({}, sovrascrivi);
    for (const auto& [file, tabelle] : perFile()) {
        const auto d = destinazione->apriCopia(file, true);
        d->inizia();
        try {
            for (const TabellaArchivio& t : tabelle)
                d->sostituisci(t.tabella, t.campi, letto[file + QLatin1Char('/') + t.tabella]);
            d->conferma();
        } catch (...) {
            d->annulla();
            throw;
        }
    }
    destinazione->scriviContatoreGrezzo(contatore);
}

QStringList confrontaArchivi(const QString& da, const QString& a) {
    QStringList differenze;
    const auto origine = MotoreArchivio::di(da);
    const auto destinazione = MotoreArchivio::di(a);
    for (const auto& [file, tabelle] : perFile()) {
        std::unique_ptr<DatabaseCopia> s;
        std::unique_ptr<DatabaseCopia> d;
        try {
            s = origine->apriCopia(file, false);
            d = destinazione->apriCopia(file, false);
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
        const QByteArray cs = origine->leggiContatoreGrezzo();
        const QByteArray cd = destinazione->leggiContatoreGrezzo();
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
