#include "supporto.h"

#include "app/gestione.h"
#include "app/globali.h"
#include "archive/errori.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <stdexcept>

namespace qvr::test {

AmbienteProva::AmbienteProva(const OpzioniArchivio& opzioni, bool crea) {
    if (!m_dir.isValid())
        throw std::runtime_error("cartella temporanea non creata");
    m_vecchiaCartella = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    if (suiteSulServer()) {
        m_server = std::make_unique<DatabaseProva>();
        if (m_server->uri().isEmpty())
            throw std::runtime_error("QVR_MOTORE=server senza QVR_PG_URI");
    }
    if (!m_server)
        QDir().mkpath(archivio());
    if (crea)
        creaArchivio(archivio(), opzioni);
    azzeraValoriGlobali();
}

AmbienteProva::~AmbienteProva() {
    m_server.reset();
    QDir::setCurrent(m_vecchiaCartella);
    azzeraValoriGlobali();
}

QString AmbienteProva::cartella() const {
    return m_dir.path();
}
QString AmbienteProva::archivio() const {
    if (m_server)
        return m_server->uri();
    return m_dir.path() + QStringLiteral("/archivio");
}
QString AmbienteProva::file(const QString& nome) const {
    if (m_server)
        return unisciPercorso(m_server->uri(), nome);
    return archivio() + QLatin1Char('/') + nome;
}

void AmbienteProva::scriviPercorsi(int postazione) const {
    QFile f(m_dir.path() + QStringLiteral("/percorsi.txt"));
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("percorsi.txt non scritto");
    f.write(QStringLiteral("\"%1\",%2\r\n").arg(archivio()).arg(postazione).toUtf8());
}

UscitaIntercettata::UscitaIntercettata() {
    auto volte = m_volte;
    auto codice = m_codice;
    impostaUscita([volte, codice](int c) {
        ++*volte;
        *codice = c;
    });
}

UscitaIntercettata::~UscitaIntercettata() {
    ripristinaUscita();
}

namespace {
template <typename F> auto conDb(const QString& fileDb, F&& f) {
    const QString nome = QUuid::createUuid().toString();
    QVariant risultato;
    if (const auto pos = server::posizione(fileDb)) {
        // A server archive: one connection of the engine's pool, in the file's schema.
        server::Connessione c(pos->uri);
        QSqlQuery q(c.db());
        if (!pos->schema.isEmpty() &&
            !q.exec(QStringLiteral("SET search_path TO ") + server::identificatore(pos->schema)))
            throw std::runtime_error(q.lastError().text().toStdString());
        QSqlQuery tradotta(c.db());
        risultato = f(tradotta);
        tradotta.finish();
        q.exec(QStringLiteral("RESET search_path"));
        return risultato;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nome);
        db.setDatabaseName(fileDb);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        QSqlQuery q(db);
        risultato = f(q);
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(nome);
    return risultato;
}
} // namespace

QByteArray contenuto(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<mancante>");
    return f.readAll();
}

void scriviFile(const QString& file, const QByteArray& dati) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(dati), dati.size());
}

int numeroErrore(const std::function<void()>& lavoro, QString* dettaglio) {
    try {
        lavoro();
    } catch (const ErroreQvr& e) {
        if (dettaglio)
            *dettaglio = e.dettaglio();
        return e.numero();
    }
    return 0;
}

namespace {
QString perMotore(const QString& fileDb, const QString& sql) {
    return eServer(fileDb) ? server::traduciSql(sql) : sql;
}
} // namespace

QVariant interroga(const QString& fileDb, const QString& sqlDato) {
    const QString sql = perMotore(fileDb, sqlDato);
    return conDb(fileDb, [&](QSqlQuery& q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + ": " + q.lastError().text()).toStdString());
        return q.next() ? q.value(0) : QVariant();
    });
}

void esegui(const QString& fileDb, const QString& sqlDato) {
    const QString sql = perMotore(fileDb, sqlDato);
    conDb(fileDb, [&](QSqlQuery& q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + ": " + q.lastError().text()).toStdString());
        return QVariant();
    });
}

QString uriServerProva() {
    return qEnvironmentVariable("QVR_PG_URI");
}

bool suiteSulServer() {
    return qEnvironmentVariable("QVR_MOTORE") == QLatin1String("server");
}

namespace {
QAtomicInteger<int> g_databaseProva{0};
}

DatabaseProva::DatabaseProva() {
    const QString base = uriServerProva();
    if (base.isEmpty())
        return;
    m_nome = QStringLiteral("qvr_prova_%1_%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(++g_databaseProva);
    server::Connessione c(base);
    (void)c.esegui(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_nome));
    if (const auto e = c.esegui(QStringLiteral("CREATE DATABASE %1").arg(m_nome)))
        throw std::runtime_error(e->text().toStdString());
    m_uri = server::uriConDatabase(base, m_nome);
}

DatabaseProva::~DatabaseProva() {
    if (m_nome.isEmpty())
        return;
    server::chiudiConnessioni();
    try {
        server::Connessione c(uriServerProva());
        (void)c.esegui(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_nome));
    } catch (const ErroreQvr&) {
    }
}

QString cartellaProgrammiTest() {
    return QStringLiteral(QVR_TEST_BIN_DIR) + QStringLiteral("/tests");
}
QString cartellaBuild() {
    return QStringLiteral(QVR_TEST_BIN_DIR);
}

} // namespace qvr::test
