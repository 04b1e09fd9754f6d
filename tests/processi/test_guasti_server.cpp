// Faults of the database server under draws of the shared counter, on a cluster of the test's
// own (scripts/servizi/postgresql.sh): the server stopped and started again while stations draw
// (they report the failure, recover when it is back, and no number is issued twice), and a
// standby promoted to primary while the stations' address names both hosts.

#include "supporto.h"

#include "archive/contatore.h"
#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace qvr;

namespace {

QString script() {
    return QStringLiteral(QVR_TEST_DATA_DIR) +
           QStringLiteral("/../../scripts/servizi/postgresql.sh");
}

// Runs the cluster script: true on success, its standard output in `uscita`, its complaint in
// `errore`.
bool servizio(const QStringList& argomenti, QString* uscita = nullptr, QString* errore = nullptr) {
    QProcess p;
    p.start(QStringLiteral("bash"), QStringList{script()} + argomenti);
    const bool finito = p.waitForFinished(120000);
    const QString lamentela = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    if (!finito || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s: %s", qPrintable(argomenti.join(u' ')), qPrintable(lamentela));
        if (errore)
            *errore = finito ? lamentela : QStringLiteral("nessuna risposta in 120 s");
        return false;
    }
    if (uscita)
        *uscita = QString::fromLocal8Bit(p.readAllStandardOutput());
    return true;
}

// The value of a line "NOME=valore" of the script's output.
QString valore(const QString& uscita, const QString& nome) {
    for (const QString& riga : uscita.split(u'\n'))
        if (riga.startsWith(nome + u'='))
            return riga.mid(nome.size() + 1).trimmed();
    return {};
}

// A cluster of this test only, stopped and removed at the end. When it does not start, `motivo`
// says why and the test fails with it.
struct Cluster {
    QString uri;  // postgresql://qvr@127.0.0.1:PORT/postgres
    QString dati; // its data folder
    QString motivo;
    int porta = 0;
    Cluster() {
        QString uscita;
        if (!servizio({QStringLiteral("avvia")}, &uscita, &motivo))
            motivo = QStringLiteral("cluster di prova non avviato: ") + motivo;
        uri = valore(uscita, QStringLiteral("QVR_PG_URI"));
        dati = valore(uscita, QStringLiteral("QVR_PG_DATI"));
        porta = server::analizzaUri(uri).porte.value(0).toInt();
    }
    ~Cluster() {
        server::chiudiConnessioni();
        if (!dati.isEmpty())
            servizio({QStringLiteral("ferma"), dati});
    }
    bool pronto() const { return !uri.isEmpty() && !dati.isEmpty(); }
};

// The lowest port of the kernel's ephemeral range (outgoing connections' local ends).
int inizioPorteEffimere() {
    QFile f(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (!f.open(QIODevice::ReadOnly))
        return 32768;
    return QString::fromLatin1(f.readAll()).split(u'\t').value(0).trimmed().toInt();
}

// A draw from the shared counter, or minus the error number it fails with: a failure fails the
// test instead of leaving the test function as an exception.
qint64 preleva(const QString& contatore) {
    qint64 n = 0;
    const int errore = qvr::test::numeroErrore([&] { n = contatore::preleva(contatore, false); });
    return errore ? -errore : n;
}

// Holds a TCP port of 127.0.0.1 with a listening socket while the object lives.
struct PortaTenuta {
    int fd = -1;
    explicit PortaTenuta(int porta) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(porta));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd, 1) != 0) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    ~PortaTenuta() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Stations drawing from the shared counter in threads of their own until each has `perStazione`
// numbers; a failed draw is reported (counted) and tried again after a pause, as an operator
// presses again.
struct Gara {
    std::vector<std::vector<qint32>> presi;
    std::atomic<int> errori{0};
    std::atomic<int> fatte{0};
    std::mutex numeriErrori;
    QSet<int> numeriVisti;

    // Stations give up after `limite` (a server that never comes back must fail the test, not
    // hang it).
    void corri(const QString& contatore, int stazioni, int perStazione,
               std::chrono::seconds limite = std::chrono::seconds(120)) {
        presi.assign(stazioni, {});
        std::vector<std::thread> fili;
        const auto fine = std::chrono::steady_clock::now() + limite;
        for (int s = 0; s < stazioni; ++s)
            fili.emplace_back([&, s] {
                while (static_cast<int>(presi[s].size()) < perStazione &&
                       std::chrono::steady_clock::now() < fine) {
                    try {
                        presi[s].push_back(contatore::preleva(contatore, false));
                        ++fatte;
                    } catch (const ErroreQvr& e) {
                        ++errori;
                        {
                            std::lock_guard<std::mutex> l(numeriErrori);
                            numeriVisti.insert(e.numero());
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    }
                }
                server::chiudiConnessioni();
            });
        for (auto& t : fili)
            t.join();
    }

    // Numbers issued twice.
    int doppi() const {
        QSet<qint32> visti;
        int d = 0;
        for (const auto& v : presi)
            for (qint32 n : v)
                d += visti.contains(n) ? 1 : (visti.insert(n), 0);
        return d;
    }
};

} // namespace

class TestGuastiServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (qvr::test::uriServerProva().isEmpty())
            QSKIP("QVR_PG_URI non impostato: PostgreSQL non disponibile (scripts/test.sh)");
    }

    // The clusters' ports lie below the ephemeral range, where no outgoing connection and no
    // client reconnecting to itself can hold them, and are free when handed out.
    void porteFuoriDalleEffimere() {
        const int inizio = inizioPorteEffimere();
        for (int i = 0; i < 20; ++i) {
            QString uscita;
            QVERIFY(servizio({QStringLiteral("porta")}, &uscita));
            const int porta = uscita.trimmed().toInt();
            QVERIFY2(porta >= 1024 && porta + 1 < inizio, qPrintable(uscita));
            PortaTenuta prova(porta);
            QVERIFY2(prova.fd >= 0, qPrintable(QStringLiteral("porta %1 non libera").arg(porta)));
        }
    }

    // A cluster asked for a port that another program holds does not start, and says why,
    // within a bounded time; the test reports it instead of going on with no address.
    void portaOccupataRiportata() {
        QString uscita;
        QVERIFY(servizio({QStringLiteral("porta")}, &uscita));
        const int porta = uscita.trimmed().toInt();
        PortaTenuta occupata(porta);
        QVERIFY(occupata.fd >= 0);
        QString errore;
        QVERIFY(!servizio({QStringLiteral("avvia"), QString::number(porta)}, &uscita, &errore));
        QVERIFY2(errore.contains(QLatin1String("PostgreSQL non avviato")), qPrintable(errore));
        QVERIFY2(valore(uscita, QStringLiteral("QVR_PG_URI")).isEmpty(), qPrintable(uscita));
    }

    // The server stops in the middle of the draws and comes back a moment later: the stations
    // see errors while it is away, then go on; no number is issued twice, and the counter
    // holds at least every number handed out.
    void serverFermatoERiavviato() {
        Cluster c;
        QVERIFY2(c.pronto(), qPrintable(c.motivo));
        const QString archivio = server::uriConDatabase(c.uri, QStringLiteral("ufficio"));
        QCOMPARE(qvr::test::numeroErrore([&] { creaArchivio(archivio); }), 0);
        const QString contatore = fileArchivio(archivio, nomi::FileContatore);
        Gara g;
        std::atomic<bool> riavviato{false};
        QString perche;
        std::thread guasto([&] {
            while (g.fatte < 200)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            servizio({QStringLiteral("arresta"), c.dati});
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            riavviato = servizio({QStringLiteral("riavvia"), c.dati}, nullptr, &perche);
        });
        g.corri(contatore, 6, 150);
        guasto.join();
        QVERIFY2(riavviato, qPrintable(QStringLiteral("server non riavviato: ") + perche));
        QVERIFY2(g.errori > 0, "il server fermato non è stato notato");
        QCOMPARE(g.doppi(), 0);
        qint32 finale = 0;
        QString dettaglio;
        QVERIFY2(qvr::test::numeroErrore([&] { finale = contatore::leggiLong(contatore); },
                                         &dettaglio) == 0,
                 qPrintable(dettaglio));
        QVERIFY(finale >= 6 * 150);
        // At most the numbers in flight when the server went away are skipped.
        QVERIFY2(finale - 6 * 150 <= 6, qPrintable(QString::number(finale)));
        // Reported as the archive's unreachable folder or lost I/O, never as anything else.
        for (int n : std::as_const(g.numeriVisti))
            QVERIFY2(n == Err::PercorsoNonTrovato || n == Err::ErroreIO,
                     qPrintable(QString::number(n)));
    }

    // A streaming standby promoted once the primary is gone: the address names both hosts
    // with target_session_attrs=read-write, so the stations find the new primary by themselves
    // and the sequence goes on where it was.
    void standbyPromosso() {
        Cluster c;
        QVERIFY2(c.pronto(), qPrintable(c.motivo));
        const QString archivio = server::uriConDatabase(c.uri, QStringLiteral("ufficio"));
        QCOMPARE(qvr::test::numeroErrore([&] { creaArchivio(archivio); }), 0);
        QString uscita, perche;
        QVERIFY2(servizio({QStringLiteral("standby"), c.dati}, &uscita, &perche),
                 qPrintable(perche));
        const QString standby = valore(uscita, QStringLiteral("QVR_PG_STANDBY_DATI"));
        const int portaStandby = valore(uscita, QStringLiteral("QVR_PG_STANDBY_PORTA")).toInt();
        QVERIFY2(!standby.isEmpty() && portaStandby > 0, qPrintable(uscita));
        const QString dueHost = QStringLiteral("postgresql://qvr@127.0.0.1:%1,127.0.0.1:%2/ufficio"
                                               "?target_session_attrs=read-write&connect_timeout=2")
                                    .arg(c.porta)
                                    .arg(portaStandby);
        const QString contatore = fileArchivio(dueHost, nomi::FileContatore);
        for (int i = 1; i <= 50; ++i)
            QCOMPARE(preleva(contatore), qint64(i));
        // The standby refuses writes while it is one.
        const QString soloStandby =
            QStringLiteral("postgresql://qvr@127.0.0.1:%1/ufficio").arg(portaStandby);
        QCOMPARE(preleva(fileArchivio(soloStandby, nomi::FileContatore)),
                 -qint64(Err::AccessoNegato));
        servizio({QStringLiteral("arresta"), c.dati});
        server::chiudiConnessioni();
        QCOMPARE(preleva(contatore), -qint64(Err::PercorsoNonTrovato));
        QVERIFY(servizio({QStringLiteral("promuovi"), standby}));
        // Promotion takes a moment: the stations retry as they would.
        qint64 dopo = 0;
        for (int tentativo = 0; tentativo < 100 && dopo <= 0; ++tentativo) {
            dopo = preleva(contatore);
            if (dopo <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        QCOMPARE(dopo, qint64(51));
        servizio({QStringLiteral("arresta"), standby});
    }
};

QTEST_GUILESS_MAIN(TestGuastiServer)
#include "test_guasti_server.moc"
