// The manager's window on a server that stops answering, on a cluster of the test's own whose
// processes are stopped with SIGSTOP (a hung host): opening another archive and closing the
// window do not wait for the watch of the day still hanging on it; opening it again and writing
// a field wait with the busy pointer while the window keeps painting, and end with the error of
// a server that is down, the window usable.

#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/server.h"
#include "console/attesa_archivio.h"
#include "finestre/messaggi.h"
#include "supporto.h"
#include "ufficio/finestra_ufficio.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTableWidget>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>

using namespace qvr;

namespace {

// What a label painted while `operazione` ran, another thread asking it to paint every 100 ms
// as the window system does when the window is uncovered.
struct Disegni : QObject {
    QElapsedTimer tempo;
    qint64 ultimo = 0, pausa = 0, durata = 0;
    bool occupato = false; // the busy text was painted
    QLabel* etichetta;
    Disegni(QLabel* e, const std::function<void()>& operazione) : etichetta(e) {
        e->installEventFilter(this);
        std::atomic<bool> basta{false};
        std::thread sollecito([&] {
            for (; !basta; std::this_thread::sleep_for(std::chrono::milliseconds(100)))
                QMetaObject::invokeMethod(
                    e, [e] { e->update(); }, Qt::QueuedConnection);
        });
        tempo.start();
        operazione();
        durata = tempo.elapsed();
        basta = true;
        sollecito.join();
        pausa = std::max(pausa, durata - ultimo);
    }
    bool eventFilter(QObject* o, QEvent* evento) override {
        if (o == etichetta && evento->type() == QEvent::Paint && tempo.isValid()) {
            pausa = std::max(pausa, tempo.elapsed() - ultimo);
            ultimo = tempo.elapsed();
            occupato |= etichetta->text() == QString::fromUtf8(TestoArchivioOccupato);
        }
        return false;
    }
};

enum class Azione { AltroArchivio, StessoServer, Scrittura, Chiusura };

} // namespace

class TestUfficioServerFermo : public QObject {
    Q_OBJECT
    std::unique_ptr<test::ClusterProprio> m_cluster;
    QString m_archivio;

private slots:
    void initTestCase() {
        m_cluster = std::make_unique<test::ClusterProprio>();
        QVERIFY2(!m_cluster->uri.isEmpty(), "il server di prova non si è avviato");
        m_archivio = server::uriConDatabase(m_cluster->uri, QStringLiteral("qvr_ufficio_fermo"));
        QCOMPARE(test::numeroErrore([&] { creaArchivio(m_archivio, {}, true); }), 0);
        messaggi::impostaRispostaAutomatica(true);
    }
    void cleanupTestCase() {
        server::chiudiConnessioni();
        m_cluster.reset();
    }
    void cleanup() { m_cluster->riprendi(); }

    void serverFermo_data() {
        QTest::addColumn<int>("azione");
        QTest::addColumn<bool>("attende"); // waits for the server, with the busy pointer
        QTest::newRow("apre un altro archivio") << int(Azione::AltroArchivio) << false;
        QTest::newRow("chiude la finestra") << int(Azione::Chiusura) << false;
        QTest::newRow("riapre il server fermo") << int(Azione::StessoServer) << true;
        QTest::newRow("scrive un campo") << int(Azione::Scrittura) << true;
    }
    void serverFermo() {
        QFETCH(int, azione);
        QFETCH(bool, attende);
        test::AmbienteProva cartella;
        QLabel vicino; // paints for the closed window
        vicino.show();
        auto w = std::make_unique<ufficio::FinestraUfficio>(m_archivio);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // The watch has read the day: it polls the server every half second from now on.
        auto* oggi = w->findChild<QTableWidget*>(QStringLiteral("tabellaOggi"));
        QTRY_VERIFY_WITH_TIMEOUT(oggi->rowCount() > 0, 10000);
        messaggi::azzeraRegistro();
        m_cluster->ferma();
        QTest::qWait(2 * ufficio::Osservatore::IntervalloMs); // the watch now hangs in a poll

        auto* stato = w->findChild<QLabel*>(QStringLiteral("stato"));
        const Disegni d(azione == int(Azione::Chiusura) ? &vicino : stato, [&] {
            switch (Azione(azione)) {
            case Azione::AltroArchivio:
                QVERIFY(w->apri(cartella.archivio()));
                break;
            case Azione::StessoServer:
                QVERIFY(!w->apri(m_archivio));
                break;
            case Azione::Scrittura:
                w->findChild<QCheckBox*>(QStringLiteral("totem"))->click();
                break;
            case Azione::Chiusura:
                w.reset();
                break;
            }
        });
        m_cluster->riprendi();
        qInfo("%s: %lld ms, al più %lld ms senza disegnare", QTest::currentDataTag(),
              static_cast<long long>(d.durata), static_cast<long long>(d.pausa));
        QVERIFY2(d.pausa < 1000, qPrintable(QString::number(d.pausa)));
        QVERIFY(!QApplication::overrideCursor());
        if (!attende) {
            QVERIFY2(d.durata < 1000, qPrintable(QString::number(d.durata)));
            QVERIFY(messaggi::registro().isEmpty());
            return;
        }
        QVERIFY2(d.durata >= 2000 && d.durata < 15000, qPrintable(QString::number(d.durata)));
        QVERIFY(d.occupato);
        QCOMPARE(messaggi::registro().size(), 1); // one wait, one box
        QVERIFY2(messaggi::registro().first().testo.contains(
                     QStringLiteral("Errore n. %1").arg(Err::PercorsoNonValido)),
                 qPrintable(messaggi::registro().first().testo));
        // Answering again: the same window opens the archive.
        QVERIFY(w->apri(m_archivio));
        QVERIFY(w->aperto());
    }
};

QTEST_MAIN(TestUfficioServerFermo)
#include "test_ufficio_server_fermo.moc"
