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

#include <QProcess>
#include <QSet>
#include <QtTest>

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

// Runs the cluster script: true on success, its standard output in `uscita`.
bool servizio(const QStringList& argomenti, QString* uscita = nullptr) {
    QProcess p;
    p.start(QStringLiteral("bash"), QStringList{script()} + argomenti);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s: %s", qPrintable(argomenti.join(u' ')), p.readAllStandardError().constData());
        return false;
    }
    if (uscita)
        *uscita = QString::fromLocal8Bit(p.readAllStandardOutput());
    return true;
}

// A cluster of this test only, stopped and removed at the end.
struct Cluster {
    QString uri;  // postgresql://qvr@127.0.0.1:PORT/postgres
    QString dati; // its data folder
    int porta = 0;
    Cluster() {
        QString uscita;
        servizio({QStringLiteral("avvia")}, &uscita);
        for (const QString& riga : uscita.split(u'\n')) {
            if (riga.startsWith(QLatin1String("QVR_PG_URI=")))
                uri = riga.mid(11).trimmed();
            if (riga.startsWith(QLatin1String("QVR_PG_DATI=")))
                dati = riga.mid(12).trimmed();
        }
        porta = server::analizzaUri(uri).porte.value(0).toInt();
    }
    ~Cluster() {
        server::chiudiConnessioni();
        if (!dati.isEmpty())
            servizio({QStringLiteral("ferma"), dati});
    }
    bool pronto() const { return !uri.isEmpty() && !dati.isEmpty(); }
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

    void corri(const QString& contatore, int stazioni, int perStazione) {
        presi.assign(stazioni, {});
        std::vector<std::thread> fili;
        for (int s = 0; s < stazioni; ++s)
            fili.emplace_back([&, s] {
                while (static_cast<int>(presi[s].size()) < perStazione) {
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

    // The server stops in the middle of the draws and comes back a moment later: the stations
    // see errors while it is away, then go on; no number is issued twice, and the counter
    // holds at least every number handed out.
    void serverFermatoERiavviato() {
        Cluster c;
        QVERIFY(c.pronto());
        const QString archivio = server::uriConDatabase(c.uri, QStringLiteral("ufficio"));
        creaArchivio(archivio);
        const QString contatore = fileArchivio(archivio, nomi::FileContatore);
        Gara g;
        std::thread guasto([&] {
            while (g.fatte < 200)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            servizio({QStringLiteral("arresta"), c.dati});
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            servizio({QStringLiteral("riavvia"), c.dati});
        });
        g.corri(contatore, 6, 150);
        guasto.join();
        QVERIFY2(g.errori > 0, "il server fermato non è stato notato");
        QCOMPARE(g.doppi(), 0);
        const qint32 finale = contatore::leggiLong(contatore);
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
        QVERIFY(c.pronto());
        const QString archivio = server::uriConDatabase(c.uri, QStringLiteral("ufficio"));
        creaArchivio(archivio);
        const int portaStandby = c.porta + 1;
        QString standby;
        QVERIFY(
            servizio({QStringLiteral("standby"), c.dati, QString::number(portaStandby)}, &standby));
        standby = standby.trimmed();
        const QString dueHost = QStringLiteral("postgresql://qvr@127.0.0.1:%1,127.0.0.1:%2/ufficio"
                                               "?target_session_attrs=read-write&connect_timeout=2")
                                    .arg(c.porta)
                                    .arg(portaStandby);
        const QString contatore = fileArchivio(dueHost, nomi::FileContatore);
        for (int i = 1; i <= 50; ++i)
            QCOMPARE(contatore::preleva(contatore, false), i);
        // The standby refuses writes while it is one.
        const QString soloStandby =
            QStringLiteral("postgresql://qvr@127.0.0.1:%1/ufficio").arg(portaStandby);
        QCOMPARE(qvr::test::numeroErrore([&] {
                     contatore::preleva(fileArchivio(soloStandby, nomi::FileContatore), false);
                 }),
                 Err::AccessoNegato);
        servizio({QStringLiteral("arresta"), c.dati});
        server::chiudiConnessioni();
        QCOMPARE(qvr::test::numeroErrore([&] { contatore::preleva(contatore, false); }),
                 Err::PercorsoNonTrovato);
        QVERIFY(servizio({QStringLiteral("promuovi"), standby}));
        // Promotion takes a moment: the stations retry as they would.
        qint32 dopo = 0;
        for (int tentativo = 0; tentativo < 100 && dopo == 0; ++tentativo) {
            try {
                dopo = contatore::preleva(contatore, false);
            } catch (const ErroreQvr&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        QCOMPARE(dopo, 51);
        servizio({QStringLiteral("arresta"), standby});
    }
};

QTEST_GUILESS_MAIN(TestGuastiServer)
#include "test_guasti_server.moc"
