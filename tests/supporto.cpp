#include "supporto.h"

#include "app/gestione.h"
#include "app/globali.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qvr::test {

AmbienteProva::AmbienteProva(const OpzioniArchivio& opzioni, bool crea) {
    if (!m_dir.isValid())
        throw std::runtime_error("cartella temporanea non creata");
    m_vecchiaCartella = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    if (suiteSulServer()) {
        m_server = std::make_unique<DatabaseProva>();
        if (m_server->uri().isEmpty()) {
            // The whole suite on the server needs one: the run is skipped, saying why (CTest
            // reports it as skipped through its SKIP_REGULAR_EXPRESSION).
            std::fputs("SALTATA: QVR_PG_URI non impostato, nessun server PostgreSQL di prova "
                       "(scripts/test.sh lo avvia)\n",
                       stdout);
            std::fflush(stdout);
            std::_Exit(0);
        }
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

QByteArray contatoreGrezzo(const QString& file) {
    if (eServer(file)) {
        try {
            const QVariant v = interroga(file, QStringLiteral("SELECT valore FROM qvr.nr4all "
                                                              "ORDER BY qvr_riga LIMIT 1"));
            return v.isValid() ? v.toString().toLatin1() : QByteArrayLiteral("<mancante>");
        } catch (const std::exception&) {
            return QByteArrayLiteral("<mancante>");
        }
    }
    return contenuto(file);
}

void scriviContatoreGrezzo(const QString& file, const QByteArray& dati) {
    if (eServer(file)) {
        esegui(file, QStringLiteral("DELETE FROM qvr.nr4all"));
        esegui(file,
               QStringLiteral("INSERT INTO qvr.nr4all (valore) VALUES (%1)")
                   .arg(QLatin1Char('\'') +
                        QString::fromLatin1(dati).replace(QLatin1Char('\''), QStringLiteral("''")) +
                        QLatin1Char('\'')));
        return;
    }
    scriviFile(file, dati);
}

bool rimuoviFileArchivio(const QString& file) {
    const auto pos = server::posizione(file);
    if (!pos)
        return QFile::remove(file);
    try {
        if (pos->file.compare(QStringLiteral("Nr4All.txt"), Qt::CaseInsensitive) == 0)
            esegui(file, QStringLiteral("DELETE FROM qvr.nr4all"));
        else if (!pos->schema.isEmpty())
            esegui(
                unisciPercorso(pos->uri, QString()),
                QStringLiteral("DROP SCHEMA %1 CASCADE").arg(server::identificatore(pos->schema)));
        else
            return false;
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

std::function<void()> tieniContatoreServer(const QString& file) {
    const auto pos = server::posizione(file);
    if (!pos)
        return {};
    auto conn = std::make_shared<server::Connessione>(pos->uri);
    if (conn->esegui(QStringLiteral("BEGIN")) ||
        conn->esegui(QStringLiteral("SELECT * FROM qvr.nr4all FOR UPDATE")))
        return {};
    return [conn]() mutable {
        (void)conn->esegui(QStringLiteral("ROLLBACK"));
        conn.reset();
    };
}

void scriviDisplay(const QString& archivio, int postazione, qint32 numero, int stato) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, nomi::FileQVRB));
    c.impostaOrigine(nomi::querySelezionaTutto(nomi::tabNumeriCode(postazione)));
    c.aggiorna(true);
    c.modifica();
    c.assegna(nomi::CampoNumeroA1, numero);
    c.assegna(nomi::CampoStatoN1, static_cast<qint16>(stato));
    c.assegna(nomi::CampoF1, QStringLiteral("F"));
    c.salva();
}

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
// The archive's mixed-case names, which the tests' SQL writes bare as SQLite takes them.
const QSet<QString>& nomiArchivio() {
    static const QSet<QString> nomi = [] {
        QSet<QString> n{QStringLiteral("Configurazione"),
                        QStringLiteral("PostazioneUtente"),
                        QStringLiteral("Utenti"),
                        QStringLiteral("Nominativo"),
                        QStringLiteral("UtilizzaNelClient"),
                        QStringLiteral("UtilizzaOrarioComeNumero"),
                        QStringLiteral("NovantanoveSingle"),
                        QStringLiteral("NovantanoveStandard"),
                        QStringLiteral("NUMERO"),
                        QStringLiteral("Stato"),
                        QStringLiteral("NumeroA1"),
                        QStringLiteral("StatoN1"),
                        QStringLiteral("F1"),
                        QStringLiteral("FE"),
                        QStringLiteral("FEAcceso"),
                        QStringLiteral("Numerazione"),
                        QStringLiteral("P11Q"),
                        QStringLiteral("RHDSN"),
                        QStringLiteral("IdUtente")};
        for (int i = 1; i <= 11; ++i) {
            n << QStringLiteral("P%1").arg(i);
            if (i <= 10)
                n << QStringLiteral("NumeriCode%1").arg(i)
                  << QStringLiteral("NumerazioneSingle%1").arg(i)
                  << QStringLiteral("Posto%1ID").arg(i) << QStringLiteral("Posto%1SS").arg(i);
        }
        return n;
    }();
    return nomi;
}

// On the server: bracketed names quoted by the engine's own translation, and the archive's
// names written bare quoted too (outside literals), so one SQL text serves both engines.
QString perMotore(const QString& fileDb, const QString& sql) {
    if (!eServer(fileDb))
        return sql;
    const QString t = server::traduciSql(sql);
    QString uscita;
    QChar apertura;
    for (qsizetype i = 0; i < t.size();) {
        const QChar c = t[i];
        if (!apertura.isNull()) {
            uscita += c;
            if (c == apertura)
                apertura = QChar();
            ++i;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            apertura = c;
            uscita += c;
            ++i;
        } else if (c.isLetter() || c == QLatin1Char('_')) {
            qsizetype j = i;
            while (j < t.size() && (t[j].isLetterOrNumber() || t[j] == QLatin1Char('_')))
                ++j;
            const QString parola = t.mid(i, j - i);
            uscita += nomiArchivio().contains(parola) ? server::identificatore(parola) : parola;
            i = j;
        } else {
            uscita += c;
            ++i;
        }
    }
    return uscita;
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
    (void)c.impostaLimiteRisposta(server::LimiteLavoriLunghiMs);
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
        (void)c.impostaLimiteRisposta(server::LimiteLavoriLunghiMs);
        (void)c.esegui(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_nome));
    } catch (const ErroreQvr&) {
    }
}

namespace {

// scripts/servizi/postgresql.sh with `argomenti`; its standard output into `uscita`.
bool servizioPostgres(const QStringList& argomenti, QString* uscita = nullptr) {
    QProcess p;
    p.start(QStringLiteral("bash"),
            QStringList{QStringLiteral(QVR_TEST_DATA_DIR "/../../scripts/servizi/postgresql.sh")} +
                argomenti);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s: %s", qPrintable(argomenti.join(u' ')), p.readAllStandardError().constData());
        return false;
    }
    if (uscita)
        *uscita = QString::fromLocal8Bit(p.readAllStandardOutput());
    return true;
}

} // namespace

ClusterProprio::ClusterProprio() {
    QString uscita;
    if (!servizioPostgres({QStringLiteral("avvia")}, &uscita))
        return;
    for (const QString& riga : uscita.split(u'\n')) {
        if (riga.startsWith(QLatin1String("QVR_PG_URI=")))
            uri = riga.mid(11).trimmed();
        if (riga.startsWith(QLatin1String("QVR_PG_DATI=")))
            dati = riga.mid(12).trimmed();
    }
}

ClusterProprio::~ClusterProprio() {
    riprendi();
    if (!dati.isEmpty())
        servizioPostgres({QStringLiteral("ferma"), dati});
}

QList<qint64> ClusterProprio::processi() const {
    QList<qint64> pid;
    QFile f(dati + QStringLiteral("/postmaster.pid"));
    if (!f.open(QIODevice::ReadOnly))
        return pid;
    const qint64 principale = f.readLine().trimmed().toLongLong();
    if (principale <= 0)
        return pid;
    pid << principale;
    const QStringList voci = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& v : voci) {
        bool numero = false;
        const qint64 n = v.toLongLong(&numero);
        if (!numero)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(n));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: the name may hold blanks, the last ")" ends it.
        const QByteArray riga = stat.readAll();
        const QList<QByteArray> campi = riga.mid(riga.lastIndexOf(')') + 2).split(' ');
        if (campi.size() > 1 && campi[1].toLongLong() == principale)
            pid << n;
    }
    return pid;
}

void ClusterProprio::ferma() {
    m_fermati = processi();
    for (const qint64 p : std::as_const(m_fermati))
        ::kill(pid_t(p), SIGSTOP);
}

void ClusterProprio::riprendi() {
    for (auto it = m_fermati.crbegin(); it != m_fermati.crend(); ++it)
        ::kill(pid_t(*it), SIGCONT);
    m_fermati.clear();
}

QString cartellaProgrammiTest() {
    return QStringLiteral(QVR_TEST_BIN_DIR) + QStringLiteral("/tests");
}
QString cartellaBuild() {
    return QStringLiteral(QVR_TEST_BIN_DIR);
}

} // namespace qvr::test
