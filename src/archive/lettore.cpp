#include "archive/lettore.h"

#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/errori_sql.h"
#include "archive/motore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace qvr {

namespace {

std::atomic<int> g_timeoutLettore{2000};
QAtomicInteger<quint64> g_connessioniLettore{0};

// A file that is missing tells a missing folder (3044) from a missing database (3024).
[[noreturn]] void fileMancante(const QString& nativo) {
    const QFileInfo cartella(QFileInfo(nativo).absolutePath());
    if (!cartella.exists() || !cartella.isDir())
        throw ErroreQvr(Err::PercorsoNonValido, nativo);
    throw ErroreQvr(Err::DatabaseNonTrovato, nativo);
}

// A regular file (through links): a folder, a FIFO or a device is no database, and opening a
// FIFO would wait for a writer.
bool fileRegolare(const QString& nativo) {
    struct stat st {};
    return ::stat(QFile::encodeName(nativo).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// One read-only connection of a folder archive for one short read: opened, used inside one
// read transaction and closed by the destructor.
class ConnessioneLetturaCartella : public ConnessioneLettura {
public:
    explicit ConnessioneLetturaCartella(const QString& nativo) : ConnessioneLettura(nativo) {
        const QFileInfo info(nativo);
        if (!info.exists())
            fileMancante(nativo);
        if (!fileRegolare(nativo) || info.size() == 0)
            throw ErroreQvr(Err::FormatoNonRiconosciuto, nativo);
        m_connessione = QStringLiteral("qvr-lettore-%1").arg(++g_connessioniLettore);
        QSqlError erroreApertura;
        bool aperta = false;
        {
            QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connessione);
            QString uri = QStringLiteral("file:");
            if (nativo.startsWith(QLatin1Char('/')))
                uri += QStringLiteral("//");
            uri += QString::fromLatin1(QUrl::toPercentEncoding(nativo, "/"));
            uri += QStringLiteral("?mode=ro");
            d.setDatabaseName(uri);
            d.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1")
                    .arg(g_timeoutLettore.load()));
            aperta = d.open();
            if (!aperta)
                erroreApertura = d.lastError();
        }
        if (!aperta) {
            QSqlDatabase::removeDatabase(m_connessione);
            if (!QFileInfo::exists(nativo))
                fileMancante(nativo);
            if (codiceSqlite(erroreApertura) == SqliteNonApribile)
                throw ErroreQvr(Err::AccessoNegato,
                                nativo + QStringLiteral(": ") + erroreApertura.databaseText());
            throw traduci(erroreApertura, {});
        }
        esegui(QStringLiteral("BEGIN"), {});
        m_inTransazione = true;
    }
    ~ConnessioneLetturaCartella() override {
        {
            QSqlDatabase d = QSqlDatabase::database(m_connessione, false);
            if (m_inTransazione) {
                QSqlQuery q(d);
                q.exec(QStringLiteral("COMMIT"));
            }
            d.close();
        }
        QSqlDatabase::removeDatabase(m_connessione);
    }

    QSqlRecord primaRiga(const QString& tabella) override {
        QSqlQuery q(QSqlDatabase::database(m_connessione, false));
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT * FROM [%1] LIMIT 1").arg(tabella)))
            throw traduci(q.lastError(), tabella);
        if (!q.next()) {
            if (q.lastError().isValid())
                throw traduci(q.lastError(), tabella);
            throw ErroreQvr(Err::NessunRecordCorrente, m_nome + QStringLiteral(", ") + tabella);
        }
        return q.record();
    }

    void perOgniRiga(const QString& tabella, const Riga& riga) override {
        QSqlQuery q(QSqlDatabase::database(m_connessione, false));
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT * FROM [%1]").arg(tabella)))
            throw traduci(q.lastError(), tabella);
        while (q.next())
            riga(q.record());
        if (q.lastError().isValid())
            throw traduci(q.lastError(), tabella);
    }

    bool prova(const QString& sql, const Riga& riga) override {
        QSqlQuery q(QSqlDatabase::database(m_connessione, false));
        q.setForwardOnly(true);
        if (!q.exec(sql))
            return false;
        while (q.next())
            riga(q.record());
        return !q.lastError().isValid();
    }

    // "SELECT 1, * FROM (SELECT a, b FROM [T1] LIMIT 1) UNION ALL ...": one statement, so that
    // the read lock lasts as little as possible.
    QString unione(QString (*nomeTabella)(int), const QStringList& campi) const override {
        QStringList parti;
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            parti << QStringLiteral("SELECT %1, * FROM (SELECT [%2] FROM [%3] LIMIT 1)")
                         .arg(n)
                         .arg(campi.join(QStringLiteral("], [")), nomeTabella(n));
        return parti.join(QStringLiteral(" UNION ALL "));
    }

private:
    void esegui(const QString& sql, const QString& oggetto) {
        QSqlQuery q(QSqlDatabase::database(m_connessione, false));
        if (!q.exec(sql))
            throw traduci(q.lastError(), oggetto);
    }
    ErroreQvr traduci(const QSqlError& e, const QString& oggetto) const {
        const QString testo = e.databaseText().isEmpty() ? e.text() : e.databaseText();
        QString dettaglio = m_nome;
        if (!oggetto.isEmpty())
            dettaglio += QStringLiteral(", ") + oggetto;
        return ErroreQvr(numeroDaSql(e), dettaglio + QStringLiteral(": ") + testo);
    }

    QString m_connessione;
    bool m_inTransazione = false;
};

// The same reads on a server archive: one pooled connection, each read one statement; the first
// row of a table is the one with the lowest key.
class ConnessioneLetturaServer : public ConnessioneLettura {
public:
    ConnessioneLetturaServer(const QString& uri, const QString& file)
        : ConnessioneLettura(server::uriPerMessaggi(uri) + QLatin1Char('\\') + file), m_conn(uri),
          m_schema(server::schemaDelFile(file)) {}

    QSqlRecord primaRiga(const QString& nome) override {
        QSqlQuery q(m_conn.db());
        q.setForwardOnly(true);
        if (const auto e = m_conn.esegui(q, QStringLiteral("SELECT * FROM %1 ORDER BY %2 LIMIT 1")
                                                .arg(tabella(nome), chiave())))
            throw m_conn.errore(*e, m_schema, nome);
        if (!q.next()) {
            if (q.lastError().isValid())
                throw m_conn.errore(q.lastError(), m_schema, nome);
            throw ErroreQvr(Err::NessunRecordCorrente, m_nome + QStringLiteral(", ") + nome);
        }
        return q.record();
    }

    void perOgniRiga(const QString& nome, const Riga& riga) override {
        QSqlQuery q(m_conn.db());
        q.setForwardOnly(true);
        if (const auto e = m_conn.esegui(
                q, QStringLiteral("SELECT * FROM %1 ORDER BY %2").arg(tabella(nome), chiave())))
            throw m_conn.errore(*e, m_schema, nome);
        while (q.next())
            riga(q.record());
        if (q.lastError().isValid())
            throw m_conn.errore(q.lastError(), m_schema, nome);
    }

    bool prova(const QString& sql, const Riga& riga) override {
        QSqlQuery q(m_conn.db());
        q.setForwardOnly(true);
        if (m_conn.esegui(q, sql))
            return false;
        while (q.next())
            riga(q.record());
        return !q.lastError().isValid();
    }

    // "SELECT 1, * FROM (SELECT a, b FROM s.T1 ORDER BY key LIMIT 1) AS t1 UNION ALL ..."
    QString unione(QString (*nomeTabella)(int), const QStringList& campi) const override {
        QStringList colonne;
        for (const QString& c : campi)
            colonne << server::identificatore(c);
        QStringList parti;
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            parti << QStringLiteral(
                         "SELECT %1, * FROM (SELECT %2 FROM %3 ORDER BY %4 LIMIT 1) AS t%1")
                         .arg(n)
                         .arg(colonne.join(QStringLiteral(", ")), tabella(nomeTabella(n)),
                              chiave());
        return parti.join(QStringLiteral(" UNION ALL "));
    }

    // A mark that changes with every committed change of a row of these tables: the rows'
    // transaction ids and keys.
    quint32 marca(const QStringList& tabelle) {
        QStringList parti;
        for (const QString& t : tabelle)
            parti << QStringLiteral("SELECT xmin::text || ':' || %1 AS x FROM %2")
                         .arg(chiave(), tabella(t));
        const QString sql = QStringLiteral("SELECT string_agg(x, ',') FROM (%1) AS righe")
                                .arg(parti.join(u" UNION ALL "));
        QSqlQuery q(m_conn.db());
        q.setForwardOnly(true);
        if (const auto e = m_conn.esegui(q, sql))
            throw m_conn.errore(*e, m_schema, tabelle.join(u", "));
        const QString testo = q.next() ? q.value(0).toString() : QString();
        return static_cast<quint32>(qHash(testo));
    }

private:
    QString tabella(const QString& nome) const { return server::tabella(m_schema, nome); }
    static QString chiave() { return server::identificatore(server::ColonnaChiave); }
    server::Connessione m_conn;
    QString m_schema;
};

// The tables whose rows make the change mark of a database of a server archive; a file not in
// the table has none.
QStringList tabelleDellImpronta(const QString& file) {
    QStringList tabelle;
    if (file == nomi::FileQVRB) {
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            tabelle << nomi::tabNumeriCode(n);
        tabelle << nomi::TabFE;
    } else if (file == nomi::FileQVRA) {
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            tabelle << nomi::tabNumerazioneSingle(n);
    } else if (file == nomi::FileQVR) {
        tabelle << nomi::TabConfigurazione << nomi::TabPostazioneUtente << nomi::TabUtenti;
    } else if (file == nomi::FileTotem) {
        tabelle << nomi::TabNumerazione << nomi::TabConfigurazione;
    }
    return tabelle;
}

} // namespace

LettoreArchivio::LettoreArchivio(const QString& cartella)
    : m_cartella(cartella), m_motore(MotoreArchivio::di(cartella)) {}

void LettoreArchivio::impostaTimeoutOccupato(int millisecondi) {
    g_timeoutLettore = millisecondi;
}

ImprontaFile LettoreArchivio::impronta(const QString& nomeFile) const {
    return m_motore->impronta(nomeFile);
}

QVariant ConnessioneLettura::campo(const QSqlRecord& r, const QString& nome,
                                   const QString& tabella) const {
    const int i = r.indexOf(nome);
    if (i < 0)
        throw ErroreQvr(Err::CampoNonTrovato,
                        m_nome + QStringLiteral(", ") + tabella + QStringLiteral(".") + nome);
    return r.value(i);
}

qint32 ConnessioneLettura::numero(const QSqlRecord& r, const QString& nome,
                                  const QString& tabella) const {
    const QVariant v = campo(r, nome, tabella);
    if (v.isNull())
        return 0;
    return valori::comeLong(v, tabella + QStringLiteral(".") + nome);
}

std::unique_ptr<ConnessioneLettura> MotoreCartella::apriLettura(const QString& file) const {
    return std::make_unique<ConnessioneLetturaCartella>(fileArchivio(m_testo, file));
}

std::unique_ptr<ConnessioneLettura> MotoreServer::apriLettura(const QString& file) const {
    return std::make_unique<ConnessioneLetturaServer>(m_testo, file);
}

ImprontaFile MotoreCartella::impronta(const QString& file) const {
    return LettoreArchivio::improntaFile(fileArchivio(m_testo, file));
}

ImprontaFile MotoreServer::impronta(const QString& file) const {
    const QStringList tabelle = tabelleDellImpronta(file);
    if (tabelle.isEmpty())
        throw ErroreQvr(Err::DatabaseNonTrovato, nomeFile(file));
    ConnessioneLetturaServer c(m_testo, file);
    ImprontaFile i;
    i.contatore = c.marca(tabelle);
    return i;
}

ImprontaFile LettoreArchivio::improntaFile(const QString& nativo) {
    const QByteArray percorso = QFile::encodeName(nativo);
    // Never waits: a FIFO put in the database's place opens at once with O_NONBLOCK, and only
    // a regular file is read.
    const int fd = ::open(percorso.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            fileMancante(nativo);
        throw ErroreQvr(numeroDaErrno(e),
                        nativo + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(e)));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ErroreQvr(Err::FormatoNonRiconosciuto,
                        nativo + QStringLiteral(": non è un file regolare"));
    }
    unsigned char testa[28];
    const ssize_t letti = ::pread(fd, testa, sizeof testa, 0);
    const int erroreLettura = letti < 0 ? errno : 0;
    ::close(fd);
    if (letti < 0)
        throw ErroreQvr(Err::ErroreDiscoRete,
                        nativo + QStringLiteral(": ") +
                            QString::fromLocal8Bit(std::strerror(erroreLettura)));
    if (letti < static_cast<ssize_t>(sizeof testa) ||
        std::memcmp(testa, "SQLite format 3\0", 16) != 0)
        throw ErroreQvr(Err::FormatoNonRiconosciuto, nativo);
    ImprontaFile i;
    i.contatore = (quint32(testa[24]) << 24) | (quint32(testa[25]) << 16) |
                  (quint32(testa[26]) << 8) | quint32(testa[27]);
    i.inode = static_cast<quint64>(st.st_ino);
    i.dimensione = static_cast<qint64>(st.st_size);
    return i;
}

namespace {
// The faults that belong to one station's record: a value the field cannot hold. A missing
// table, row or field is damage of the database's structure, which the other programs of the
// system create, and fails the read as a whole (on a server it fails the change mark too).
bool guastoDellaPostazione(int numero) {
    switch (numero) {
    case Err::Overflow:
    case Err::TipoNonCorrispondente:
    case Err::UsoNonValidoNull:
        return true;
    default:
        return false;
    }
}

// Runs `leggi` for one station's record; a fault of that record alone is kept in its `guasto`
// and the others are read on.
template <typename R, typename F> void perPostazione(R& record, F leggi) {
    try {
        leggi();
    } catch (const ErroreQvr& e) {
        if (!guastoDellaPostazione(e.numero()))
            throw;
        record = R{};
        record.guasto = {e.numero(), e.testoCompleto()};
    }
}

// A state field is an Integer: a value beyond 16 bits is an overflow.
int stato(const ConnessioneLettura& c, const QSqlRecord& r, const QString& campo,
          const QString& tab) {
    const qint32 v = c.numero(r, campo, tab);
    if (v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max())
        throw ErroreQvr(Err::Overflow, tab + QStringLiteral(".") + campo + QStringLiteral(" = ") +
                                           QString::number(v));
    return v;
}

void recordDisplay(ConnessioneLettura& c, const QSqlRecord& q, const QString& tab,
                   RecordDisplay& d) {
    d.numero = c.numero(q, nomi::CampoNumeroA1, tab);
    d.stato = stato(c, q, nomi::CampoStatoN1, tab);
    d.flag = c.campo(q, nomi::CampoF1, tab).toString();
}

void recordSingolo(ConnessioneLettura& c, const QSqlRecord& q, const QString& tab,
                   RecordSingolo& s) {
    s.numero = c.numero(q, nomi::CampoNUMERO, tab);
    s.stato = stato(c, q, nomi::CampoStato, tab);
}

// The records of the ten stations, from the first rows of nomeTabella(1..10). The quick way
// first, in one statement; when it fails or finds a table empty, the table by table read tells
// which table or field is wrong.
template <typename R, typename F>
std::array<R, nomi::NumeroPostazioni> leggiPostazioni(ConnessioneLettura& c,
                                                      QString (*nomeTabella)(int),
                                                      const QStringList& campi, F leggiRecord) {
    std::array<R, nomi::NumeroPostazioni> r;
    int trovate = 0;
    if (c.prova(c.unione(nomeTabella, campi),
                [&](const QSqlRecord& q) {
                    const int n = q.value(0).toInt();
                    if (n < 1 || n > nomi::NumeroPostazioni)
                        return;
                    const QString tab = nomeTabella(n);
                    perPostazione(r[n - 1], [&] { leggiRecord(q, tab, r[n - 1]); });
                    ++trovate;
                }) &&
        trovate == nomi::NumeroPostazioni)
        return r;
    r = {};
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        const QString tab = nomeTabella(n);
        perPostazione(r[n - 1], [&] { leggiRecord(c.primaRiga(tab), tab, r[n - 1]); });
    }
    return r;
}

RecordsDisplay leggiDisplayCon(ConnessioneLettura& c) {
    return leggiPostazioni<RecordDisplay>(c, &nomi::tabNumeriCode,
                                          {nomi::CampoNumeroA1, nomi::CampoStatoN1, nomi::CampoF1},
                                          [&](const QSqlRecord& q, const QString& tab,
                                              RecordDisplay& d) { recordDisplay(c, q, tab, d); });
}

RecordsSingoli leggiSingoliCon(ConnessioneLettura& c) {
    return leggiPostazioni<RecordSingolo>(c, &nomi::tabNumerazioneSingle,
                                          {nomi::CampoNUMERO, nomi::CampoStato},
                                          [&](const QSqlRecord& q, const QString& tab,
                                              RecordSingolo& s) { recordSingolo(c, q, tab, s); });
}

Assegnazioni leggiAssegnazioniCon(ConnessioneLettura& c, bool nominativi) {
    Assegnazioni a;
    const QString tab = nomi::TabPostazioneUtente;
    const QSqlRecord riga = c.primaRiga(tab);
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        a[n - 1].singola =
            c.campo(riga, nomi::campoPostoSS(n), tab).toString() == QStringLiteral("SG");
        a[n - 1].idUtente = c.numero(riga, nomi::campoPostoID(n), tab);
    }
    if (!nominativi)
        return a;
    QHash<qint32, QString> nomiUtenti;
    c.perOgniRiga(nomi::TabUtenti, [&](const QSqlRecord& u) {
        const qint32 id = c.numero(u, nomi::CampoId, nomi::TabUtenti);
        nomiUtenti.insert(id,
                          c.campo(u, nomi::CampoNominativo, nomi::TabUtenti).toString().trimmed());
    });
    for (auto& p : a)
        p.nominativo = nomiUtenti.value(p.idUtente);
    return a;
}

} // namespace

RecordsDisplay LettoreArchivio::leggiDisplay() const {
    return leggiDisplayCon(*m_motore->apriLettura(nomi::FileQVRB));
}

RecordsSingoli LettoreArchivio::leggiSingoli() const {
    return leggiSingoliCon(*m_motore->apriLettura(nomi::FileQVRA));
}

Assegnazioni LettoreArchivio::leggiAssegnazioni(bool nominativi) const {
    return leggiAssegnazioniCon(*m_motore->apriLettura(nomi::FileQVR), nominativi);
}

} // namespace qvr
