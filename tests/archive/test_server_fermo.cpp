// A server that stops answering, on a cluster of the test's own (scripts/servizi/postgresql.sh):
// its processes stopped with SIGSTOP, as when its host hangs or a cable is pulled. Every path of
// the library (a cursor's read and write, the counter's read and draw, the board's reader), on a
// connection waiting in the pool and on a new one, must fail within a bound with the error of a
// server that is down, and work again once the server answers; a console on it keeps painting
// meanwhile. Also: the bounds the address sets, and a statement the server itself cancels.

#include "supporto.h"

#include "app/gestione.h"
#include "app/globali.h"
#include "console/attesa_archivio.h"
#include "console/copia_unica.h"
#include "console/form1.h"
#include "dialogs/messaggi.h"
#include "launcher/apertura.h"

#include "archive/contatore.h"
#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/lettore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <sys/types.h>
#include <thread>

using namespace qvr;

namespace {

// A station: a thread of its own with its own pooled connections, running one job at a time.
class Postazione {
public:
    Postazione() : m_filo([this] { ciclo(); }) {}
    ~Postazione() {
        {
            std::lock_guard<std::mutex> b(m_mutex);
            m_fine = true;
        }
        m_cambio.notify_one();
        m_filo.join();
    }
    // Runs `lavoro` on the station's thread; the future holds the error number (0 when none).
    std::future<int> avvia(std::function<void()> lavoro) {
        std::packaged_task<int()> compito(
            [lavoro = std::move(lavoro)] { return test::numeroErrore(lavoro); });
        std::future<int> esito = compito.get_future();
        {
            std::lock_guard<std::mutex> b(m_mutex);
            m_coda.push_back(std::move(compito));
        }
        m_cambio.notify_one();
        return esito;
    }

private:
    void ciclo() {
        for (;;) {
            std::packaged_task<int()> compito;
            {
                std::unique_lock<std::mutex> b(m_mutex);
                m_cambio.wait(b, [&] { return m_fine || !m_coda.empty(); });
                if (m_coda.empty())
                    break;
                compito = std::move(m_coda.front());
                m_coda.pop_front();
            }
            compito();
        }
        server::chiudiConnessioni();
    }
    std::mutex m_mutex;
    std::condition_variable m_cambio;
    std::deque<std::packaged_task<int()>> m_coda;
    bool m_fine = false;
    std::thread m_filo;
};

// The paints of a label while `operazione` runs (ms from its start, and the text painted), with
// another thread asking it to paint every 100 ms, as the window system does when it is uncovered.
struct Disegni : QObject {
    QLabel* etichetta;
    QElapsedTimer tempo;
    QList<std::pair<qint64, QString>> visti;
    explicit Disegni(QLabel* e) : etichetta(e) { e->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* evento) override {
        if (evento->type() == QEvent::Paint)
            visti.append({tempo.elapsed(), etichetta->text()});
        return false;
    }
    qint64 durante(const std::function<void()>& operazione) {
        std::atomic<bool> basta{false};
        std::thread sollecito([&basta, e = etichetta] {
            for (; !basta; std::this_thread::sleep_for(std::chrono::milliseconds(100)))
                QMetaObject::invokeMethod(
                    e, [e] { e->update(); }, Qt::QueuedConnection);
        });
        tempo.start();
        operazione();
        const qint64 durata = tempo.elapsed();
        basta = true;
        sollecito.join();
        etichetta->removeEventFilter(this);
        return durata;
    }
    // The longest stretch without a paint up to `fine`.
    qint64 pausaMassima(qint64 fine) const {
        qint64 prima = 0, pausa = 0;
        for (const auto& [t, testo] : visti) {
            pausa = qMax(pausa, qMin(t, fine) - prima);
            prima = qMin(t, fine);
        }
        return qMax(pausa, fine - prima);
    }
};

// A station's console on `archivio`, loaded and shown (null when the load fails).
std::unique_ptr<Form1> apriConsole(const QString& archivio, int stazione, bool totem) {
    const QString cartella = QDir::currentPath();
    test::scriviFile(cartella + QStringLiteral("/percorsi.txt"),
                     QStringLiteral("\"%1\",%2\r\n").arg(archivio).arg(stazione).toUtf8());
    CopiaUnica::impostaPercorsoPredefinito(cartella + QStringLiteral("/copia.lock"));
    TotemInUso = totem;
    auto form = std::make_unique<Form1>();
    if (!eseguiGestito([&] { form->Carica(); }))
        return nullptr;
    form->show();
    return QTest::qWaitForWindowExposed(form.get()) ? std::move(form) : nullptr;
}

enum class Via { LetturaCursore, ScritturaCursore, LetturaContatore, Prelievo, Tabellone };

} // namespace

class TestServerFermo : public QObject {
    Q_OBJECT

    std::unique_ptr<test::ClusterProprio> m_cluster;
    QString m_archivio;

    std::function<void()> lavoro(Via via) const {
        const QString archivio = m_archivio;
        switch (via) {
        case Via::LetturaCursore:
            return [archivio] {
                Cursore c;
                c.impostaDatabase(unisciPercorso(archivio, nomi::FileQVRB));
                c.impostaOrigine(nomi::tabNumeriCode(1));
                c.aggiorna();
                (void)c.campoLong(nomi::CampoNumeroA1);
            };
        case Via::ScritturaCursore:
            return [archivio] {
                Cursore c;
                c.impostaDatabase(unisciPercorso(archivio, nomi::FileQVRB));
                c.impostaOrigine(nomi::tabNumeriCode(2));
                c.aggiorna(true);
                c.modifica();
                c.assegna(nomi::CampoNumeroA1, c.campoLong(nomi::CampoNumeroA1) + 1);
                c.salva();
            };
        case Via::LetturaContatore:
            return [archivio] {
                (void)contatore::leggiLong(fileArchivio(archivio, nomi::FileContatore));
            };
        case Via::Prelievo:
            return [archivio] {
                (void)contatore::preleva(fileArchivio(archivio, nomi::FileContatore), false);
            };
        case Via::Tabellone:
            return [archivio] { (void)LettoreArchivio(archivio).leggiDisplay(); };
        }
        return {};
    }

private slots:
    void initTestCase() {
        m_cluster = std::make_unique<test::ClusterProprio>();
        QVERIFY2(m_cluster->pronto(), "il server di prova non si è avviato");
        m_archivio = server::uriConDatabase(m_cluster->uri, QStringLiteral("qvr_fermo"));
        OpzioniArchivio o;
        o.totem = true;
        QCOMPARE(test::numeroErrore([&] { creaArchivio(m_archivio, o, true); }), 0);
        server::chiudiConnessioni();
    }
    void cleanupTestCase() {
        server::chiudiConnessioni();
        m_cluster.reset();
    }
    void cleanup() {
        if (m_cluster)
            m_cluster->riprendi();
        messaggi::impostaRispostaAutomatica(false);
        messaggi::azzeraRegistro();
        CopiaUnica::impostaPercorsoPredefinito({});
        azzeraValoriGlobali();
    }

    // Stopped server: each path fails within the bound with the number of a server that is
    // down (3044; the counter's own 76), on a pooled and on a new connection; once the server
    // answers again the same station works at once.
    void serverFermo_data() {
        QTest::addColumn<int>("via");
        QTest::addColumn<bool>("nelPool");
        QTest::addColumn<int>("errore");
        const struct {
            const char* nome;
            Via via;
            int errore;
        } vie[] = {
            {"lettura con il cursore", Via::LetturaCursore, Err::PercorsoNonValido},
            {"scrittura con il cursore", Via::ScritturaCursore, Err::PercorsoNonValido},
            {"lettura del contatore", Via::LetturaContatore, Err::PercorsoNonTrovato},
            {"prelievo dal contatore", Via::Prelievo, Err::PercorsoNonTrovato},
            {"lettura del tabellone", Via::Tabellone, Err::PercorsoNonValido},
        };
        for (const auto& v : vie) {
            QTest::addRow("%s, connessione nel pool", v.nome) << int(v.via) << true << v.errore;
            QTest::addRow("%s, connessione nuova", v.nome) << int(v.via) << false << v.errore;
        }
    }
    void serverFermo() {
        QFETCH(int, via);
        QFETCH(bool, nelPool);
        QFETCH(int, errore);
        const auto fare = lavoro(static_cast<Via>(via));
        Postazione p;
        if (nelPool)
            QCOMPARE(p.avvia(fare).get(), 0); // the connection waits in the station's pool

        m_cluster->ferma();
        QElapsedTimer tempo;
        tempo.start();
        std::future<int> esito = p.avvia(fare);
        const bool finito = esito.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        const qint64 ms = tempo.elapsed();
        m_cluster->riprendi(); // a call still blocked ends now
        QVERIFY2(finito, "la chiamata è rimasta bloccata sul server fermo");
        const int numero = esito.get();
        qInfo("server fermo, %s: errore %d dopo %lld ms", QTest::currentDataTag(), numero,
              static_cast<long long>(ms));
        QCOMPARE(numero, errore);
        QVERIFY2(ms < 10000, qPrintable(QStringLiteral("%1 ms").arg(ms)));

        // Answering again: the station works at once, its cut connection replaced.
        QElapsedTimer ripresa;
        ripresa.start();
        QCOMPARE(p.avvia(fare).get(), 0);
        QVERIFY(ripresa.elapsed() < 5000);
    }

    // A console on the stopped server: while a press of " Avanti     " or a tick of the kiosk
    // monitor waits, the window paints all along, with the busy pointer and state text; then
    // the operation ends as on a server that is down (in standard numbering the central report,
    // and the program ends; in single numbering the counter's own message; the monitor's report
    // with the count marked as not current), and once the server answers the console works.
    // A close request meanwhile (single numbering: no question) ends the program only after.
    void console_data() {
        QTest::addColumn<bool>("monitor");
        QTest::addColumn<int>("stazione");
        QTest::addColumn<int>("errore");
        QTest::newRow("avanti, standard") << false << 1 << int(Err::PercorsoNonValido);
        QTest::newRow("avanti, singola") << false << 3 << int(Err::PercorsoNonTrovato);
        QTest::newRow("monitor del totem") << true << 1 << int(Err::PercorsoNonValido);
    }
    void console() {
        QFETCH(bool, monitor);
        QFETCH(int, stazione);
        QFETCH(int, errore);
        QString archivio = m_archivio; // with the kiosk
        if (!monitor) {
            archivio = server::uriConDatabase(m_cluster->uri, QStringLiteral("qvr_fermo_banco"));
            OpzioniArchivio o;
            o.modi[2] = QStringLiteral("SG");
            QCOMPARE(test::numeroErrore([&] { creaArchivio(archivio, o, true); }), 0);
        }
        QTemporaryDir cartella;
        QDir::setCurrent(cartella.path());
        messaggi::impostaRispostaAutomatica(true);
        test::UscitaIntercettata uscita;
        auto form = apriConsole(archivio, stazione, monitor);
        QVERIFY(form);
        const QString stato = form->Label1(2)->text();
        const QRect posto = form->Label1(2)->geometry();
        const QString prossimo = QString::number(form->Label1(1)->text().toInt() + 1);
        const bool chiusa = stazione == 3;
        auto operazione = [&] {
            if (chiusa && !uscita.volte())
                QMetaObject::invokeMethod(form.get(), "close", Qt::QueuedConnection);
            if (monitor)
                QMetaObject::invokeMethod(form->Timer1(), "timeout", Qt::DirectConnection);
            else
                form->Command1(0)->click();
        };

        m_cluster->ferma();
        Disegni disegni(form->Label1(2));
        const qint64 durata = disegni.durante(operazione);
        m_cluster->riprendi();
        const qint64 pausa = disegni.pausaMassima(durata);
        qInfo("console, %s: %lld ms, al più %lld ms senza disegnare", QTest::currentDataTag(),
              static_cast<long long>(durata), static_cast<long long>(pausa));
        QVERIFY2(durata >= 2000 && durata < 15000, qPrintable(QString::number(durata)));
        QVERIFY2(pausa < 1000, qPrintable(QString::number(pausa)));
        QVERIFY(std::any_of(disegni.visti.cbegin(), disegni.visti.cend(), [](const auto& v) {
            return v.second == QString::fromUtf8(TestoArchivioOccupato);
        }));
        QCOMPARE(form->Label1(2)->text(), stato);
        QCOMPARE(form->Label1(2)->geometry(), posto);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(messaggi::registro().size(), 1);
        QVERIFY(messaggi::registro().first().testo.startsWith(
            QStringLiteral("Errore n. %1\n").arg(errore)));
        QCOMPARE(uscita.volte(), !monitor && stazione == 1 ? 1 : 0);
        QCOMPARE(form->Label5()->styleSheet().isEmpty(), !monitor);
        if (chiusa)
            QTRY_COMPARE(uscita.volte(), 1);

        // Answering again (started again by the operator after the program's end).
        messaggi::azzeraRegistro();
        if (uscita.volte()) {
            form.reset();
            form = apriConsole(archivio, stazione, monitor);
            QVERIFY(form);
        }
        operazione();
        QCOMPARE(messaggi::registro().size(), 0);
        QCOMPARE(uscita.volte(), monitor ? 0 : 1);
        QVERIFY(form->Label5()->styleSheet().isEmpty());
        if (!monitor)
            QCOMPARE(form->Label1(1)->text(), prossimo);
        form.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    // The launcher's kiosk box on the stopped server: the window paints all along with the busy
    // pointer and state text in place of the user's name, the write ends as on a server that is
    // down (the central report, and the program ends); once the server answers it is stored.
    void launcher() {
        const QString archivio =
            server::uriConDatabase(m_cluster->uri, QStringLiteral("qvr_fermo_launcher"));
        OpzioniArchivio o;
        o.totem = true;
        QCOMPARE(test::numeroErrore([&] { creaArchivio(archivio, o, true); }), 0);
        QTemporaryDir cartella;
        QDir::setCurrent(cartella.path());
        test::scriviFile(cartella.path() + QStringLiteral("/percorsi.txt"),
                         QStringLiteral("\"%1\",1\r\n").arg(archivio).toUtf8());
        messaggi::impostaRispostaAutomatica(true);
        test::UscitaIntercettata uscita;
        const auto apri = [] {
            auto a = std::make_unique<Apertura>();
            if (!eseguiGestito([&a] { a->Carica(); }))
                return std::unique_ptr<Apertura>();
            a->show();
            return QTest::qWaitForWindowExposed(a.get()) ? std::move(a) : nullptr;
        };
        auto a = apri();
        QVERIFY(a);
        QLabel* nome = a->findChild<QLabel*>(QStringLiteral("Label3"));
        QVERIFY(nome);
        const QString testo = nome->text();
        const bool spuntata = a->CB3()->isChecked();

        m_cluster->ferma();
        Disegni disegni(nome);
        const qint64 durata = disegni.durante([&] { a->CB3()->click(); });
        m_cluster->riprendi();
        const qint64 pausa = disegni.pausaMassima(durata);
        qInfo("launcher: %lld ms, al più %lld ms senza disegnare", static_cast<long long>(durata),
              static_cast<long long>(pausa));
        QVERIFY2(durata >= 2000 && durata < 15000, qPrintable(QString::number(durata)));
        QVERIFY2(pausa < 1000, qPrintable(QString::number(pausa)));
        QVERIFY(std::any_of(disegni.visti.cbegin(), disegni.visti.cend(), [](const auto& v) {
            return v.second == QString::fromUtf8(TestoArchivioOccupato);
        }));
        QCOMPARE(nome->text(), testo);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!AttesaArchivio::attiva());
        QCOMPARE(messaggi::registro().size(), 1);
        QVERIFY(messaggi::registro().first().testo.startsWith(
            QStringLiteral("Errore n. %1\n").arg(Err::PercorsoNonValido)));
        QCOMPARE(uscita.volte(), 1);

        // Answering again (started again by the operator after the program's end).
        messaggi::azzeraRegistro();
        a = apri();
        QVERIFY(a);
        QCOMPARE(a->CB3()->isChecked(), spuntata);
        a->CB3()->click();
        QCOMPARE(messaggi::registro().size(), 0);
        const QString atteso = spuntata ? QStringLiteral("NO") : QStringLiteral("SI");
        Cursore c;
        c.impostaDatabase(unisciPercorso(archivio, nomi::FileTotem));
        c.impostaOrigine(nomi::querySelezionaTutto(nomi::TabConfigurazione));
        c.aggiorna();
        QCOMPARE(c.campo(nomi::CampoRHDSN).toString(), atteso);
        c.chiudi();
        a.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    // No number is drawn twice across a stop: the draw that failed took its number or not,
    // the next one goes on from the counter.
    void prelievoDopoFermo() {
        const QString file = fileArchivio(m_archivio, nomi::FileContatore);
        Postazione p;
        qint32 prima = 0;
        QCOMPARE(p.avvia([&] { prima = contatore::preleva(file, false); }).get(), 0);
        m_cluster->ferma();
        std::future<int> fallito = p.avvia([&] { contatore::preleva(file, false); });
        const bool finito = fallito.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        m_cluster->riprendi();
        QVERIFY(finito);
        QCOMPARE(fallito.get(), Err::PercorsoNonTrovato);
        qint32 dopo = 0;
        QCOMPARE(p.avvia([&] { dopo = contatore::preleva(file, false); }).get(), 0);
        QVERIFY2(dopo == prima + 1 || dopo == prima + 2, qPrintable(QString::number(dopo)));
        QCOMPARE(contatore::leggiLong(file), dopo);
    }

    // A statement the server cancels at its own bound (57014) is a server that does not answer,
    // not any other failure; the connection stays sound.
    void istruzioneAnnullataDalServer() {
        try {
            const QString uri = m_archivio + QStringLiteral("?statement_timeout=300ms");
            for (const auto ambito : {server::Ambito::Archivio, server::Ambito::Contatore}) {
                server::Connessione c(uri, ambito);
                QElapsedTimer tempo;
                tempo.start();
                const auto e = c.esegui(QStringLiteral("SELECT pg_sleep(3)"));
                QVERIFY(e.has_value());
                QVERIFY(tempo.elapsed() < 2000);
                QVERIFY(server::senzaRisposta(*e));
                QVERIFY(!server::connessionePersa(*e));
                QCOMPARE(c.errore(*e, {}, {}).numero(), ambito == server::Ambito::Contatore
                                                            ? Err::PercorsoNonTrovato
                                                            : Err::PercorsoNonValido);
                QVERIFY(!c.esegui(QStringLiteral("SELECT 1")).has_value());
            }
        } catch (const ErroreQvr& e) {
            QFAIL(e.what()); // never out of the test: the cluster must be stopped
        }
    }

    // A station that hangs while it holds the counter's row: the server ends its idle
    // transaction, and the others draw again instead of failing with 70 for as long as it hangs.
    void rigaTenutaDaPostazioneBloccata() {
        try {
            const QString file = fileArchivio(m_archivio, nomi::FileContatore);
            const QString breve =
                m_archivio + QStringLiteral("?idle_in_transaction_session_timeout=1s");
            server::Connessione bloccata(breve, server::Ambito::Contatore);
            QVERIFY(!bloccata.esegui(QStringLiteral("BEGIN")).has_value());
            QVERIFY(!bloccata
                         .esegui(QStringLiteral("SELECT * FROM %1 FOR UPDATE")
                                     .arg(server::tabella(server::SchemaContatore,
                                                          server::TabellaContatore)))
                         .has_value());
            contatore::impostaLimiteAttesa(5000);
            QElapsedTimer tempo;
            tempo.start();
            Postazione p;
            QCOMPARE(p.avvia([&] { contatore::preleva(file, false); }).get(), 0);
            QVERIFY(tempo.elapsed() >= 500);
            // The hung station's next statement finds its transaction ended: a lost connection.
            const auto e = bloccata.esegui(QStringLiteral("SELECT 1"));
            QVERIFY(e.has_value());
            QVERIFY(server::connessionePersa(*e));
        } catch (const ErroreQvr& e) {
            QFAIL(e.what()); // never out of the test: the cluster must be stopped
        }
    }

    // The bounds an address sets, and their defaults.
    void attese_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("connessione");
        QTest::addColumn<qint64>("istruzione");
        QTest::addColumn<qint64>("inattiva");
        QTest::addColumn<qint64>("risposta");
        QTest::newRow("predefinite") << "" << 5 << qint64(4000) << qint64(60000) << qint64(5000);
        QTest::newRow("connect_timeout")
            << "connect_timeout=9" << 9 << qint64(4000) << qint64(60000) << qint64(5000);
        QTest::newRow("connect_timeout sotto 2 s")
            << "connect_timeout=1" << 2 << qint64(4000) << qint64(60000) << qint64(5000);
        QTest::newRow("statement_timeout in ms")
            << "statement_timeout=2500" << 5 << qint64(2500) << qint64(60000) << qint64(3500);
        QTest::newRow("statement_timeout in s")
            << "statement_timeout=10s" << 5 << qint64(10000) << qint64(60000) << qint64(11000);
        QTest::newRow("statement_timeout spento")
            << "statement_timeout=0" << 5 << qint64(0) << qint64(60000) << qint64(0);
        QTest::newRow("nelle options") << "options=-c%20statement_timeout%3D2s%20-c%20idle_in_"
                                          "transaction_session_timeout%3D1min"
                                       << 5 << qint64(2000) << qint64(60000) << qint64(3000);
        QTest::newRow("la chiave vince sulle options")
            << "options=-c%20statement_timeout%3D2s&statement_timeout=3s" << 5 << qint64(3000)
            << qint64(60000) << qint64(4000);
        QTest::newRow("transazione inattiva") << "idle_in_transaction_session_timeout=30s" << 5
                                              << qint64(4000) << qint64(30000) << qint64(5000);
    }
    void attese() {
        QFETCH(QString, query);
        QFETCH(int, connessione);
        QFETCH(qint64, istruzione);
        QFETCH(qint64, inattiva);
        QFETCH(qint64, risposta);
        QString uri = QStringLiteral("postgresql://qvr@srv/ufficio");
        if (!query.isEmpty())
            uri += QLatin1Char('?') + query;
        const server::Attese a = server::attese(uri, server::analizzaUri(uri));
        QCOMPARE(a.connessioneSecondi, connessione);
        QCOMPARE(a.istruzioneMs, istruzione);
        QCOMPARE(a.transazioneInattivaMs, inattiva);
        QCOMPARE(a.rispostaMs, risposta);
    }
    void atteseNonValide() {
        for (const char* q : {"statement_timeout=presto", "connect_timeout=-1",
                              "idle_in_transaction_session_timeout=5x"}) {
            const QString uri =
                QStringLiteral("postgresql://qvr@srv/ufficio?") + QString::fromLatin1(q);
            QCOMPARE(test::numeroErrore([&] { server::attese(uri, server::analizzaUri(uri)); }),
                     Err::PercorsoNonValido);
        }
    }
};

QTEST_MAIN(TestServerFermo)
#include "test_server_fermo.moc"
