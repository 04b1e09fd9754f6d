// The kiosk's model and window driven without a screen: taps, keys, double taps, the kiosk
// not in use, a missing, held or silent archive, a printer that cannot print or blocks; the
// settings file and its PIN (damaged, missing, guessed); leaving the full screen; the ESC/POS
// bytes.
#include "archive/biglietti.h"
#include "archive/nomi.h"
#include "finestre/campo_archivio.h"
#include "finestre/messaggi.h"
#include "supporto.h"
#include "totem/chiosco.h"
#include "totem/finestra_impostazioni.h"
#include "totem/finestra_totem.h"
#include "totem/impostazioni_totem.h"
#include "totem/stampa.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qvr;
using namespace qvr::test;
using namespace qvr::totem;

namespace {

const QString PinProva = QStringLiteral("4711");

// Settings with the PIN 4711 (hashed once: a hash costs a quarter of a second).
ImpostazioniTotem impostazioniProva(const QString& cartella) {
    static const ImpostazioniTotem conPin = [] {
        ImpostazioniTotem s;
        s.impostaPin(PinProva);
        return s;
    }();
    ImpostazioniTotem s = conPin;
    s.cartella = cartella;
    s.ufficio = QStringLiteral("Comune di Prova");
    s.servizi = {{QStringLiteral("Anagrafe"), 2}, {QStringLiteral("Ritiro referti"), 11}};
    s.ritorno = 1;
    return s;
}

// The longest pause of the kiosk's thread while it lives: a timer every 20 ms notes the gaps.
class Battito {
public:
    Battito() {
        m_tempo.start();
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_massimo = std::max(m_massimo, m_tempo.restart()); });
        m_timer.start(20);
    }
    qint64 pausaMassima() const { return m_massimo; }

private:
    QTimer m_timer;
    QElapsedTimer m_tempo;
    qint64 m_massimo = 0;
};

// Notes (and closes) any settings window that opens by itself while it lives.
class GuardiaImpostazioni {
public:
    GuardiaImpostazioni() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* f = qobject_cast<FinestraImpostazioni*>(w); f && f->isVisible()) {
                    ++m_aperte;
                    f->reject();
                }
        });
        m_timer.start(10);
    }
    int aperte() const { return m_aperte; }

private:
    QTimer m_timer;
    int m_aperte = 0;
};

// A FIFO standing for a printer: `lettore` holds it open for reading without reading, and
// riempi() fills it so that a writer blocks.
struct FifoStampante {
    QString percorso;
    int lettore = -1;
    explicit FifoStampante(const QString& p) : percorso(p) {
        QVERIFY(::mkfifo(QFile::encodeName(p).constData(), 0600) == 0);
    }
    ~FifoStampante() {
        if (lettore >= 0)
            ::close(lettore);
    }
    void apri() {
        lettore = ::open(QFile::encodeName(percorso).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(lettore >= 0);
        ::fcntl(lettore, F_SETPIPE_SZ, 4096);
    }
    void riempi() {
        const int w = ::open(QFile::encodeName(percorso).constData(), O_WRONLY | O_NONBLOCK);
        QVERIFY(w >= 0);
        const QByteArray pieno(4096, 'x');
        while (::write(w, pieno.constData(), pieno.size()) > 0) {
        }
        ::close(w);
    }
    QByteArray leggi() {
        QByteArray tutto;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(lettore, buf, sizeof buf)) > 0)
            tutto.append(buf, n);
        return tutto;
    }
};

// The permission bits of a file (0600).
int modo(const QString& file) {
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// The bytes of ticket `numero` as the kiosk prints it (the number line).
QByteArray rigaNumero(int numero) {
    return QByteArray("\x1d!\x77", 3) + QByteArray::number(numero) + '\n';
}

int contatoreP(const AmbienteProva& amb, const QString& campo) {
    return interroga(amb.file(nomi::FileTotem), "SELECT " + campo + " FROM Numerazione").toInt();
}

} // namespace

class TestTotemChiosco : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void tocchiETasti();
    void nonAttivoEGuasto();
    void archivioBloccato();
    void rispostaInRitardo_data();
    void rispostaInRitardo();
    void serverCheNonRisponde();
    void stampanteNonDisponibile();
    void stampanteBloccata();
    void impostazioniEPin();
    void impostazioniDanneggiate();
    void pinChiuso_data();
    void pinChiuso();
    void primoPin();
    void reimpostaPin();
    void pausaDopoPinErrati();
    void pinDiPrima();
    void tuttoSchermo();
    void pannelloImpostazioni_data();
    void pannelloImpostazioni();
    void finestraImpostazioni();
    void escPos();

private:
    QTemporaryDir m_config;
};

void TestTotemChiosco::initTestCase() {
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

void TestTotemChiosco::init() {
    QFile::remove(ImpostazioniTotem::percorsoFile());
}

void TestTotemChiosco::tocchiETasti() {
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    Chiosco chiosco(impostazioniProva(amb.archivio()));
    int stampe = 0;
    chiosco.impostaStampa([&](const DatiBiglietto& d) {
        ++stampe;
        EsitoStampa e;
        e.riuscita = d.numero > 0;
        return e;
    });
    FinestraTotem w(&chiosco, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.bottoniServizi().size(), 2);
    QCOMPARE(w.bottoniServizi()[0]->accessibleName(), QString("Anagrafe"));
    // A double tap gives one ticket.
    QTRY_COMPARE(chiosco.schermata(), Schermata::Servizi);
    QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
    QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
    QTRY_COMPARE(w.testoNumero(), QString("Il suo numero è 1"));
    QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
    QCOMPARE(contatoreP(amb, "P2"), 1);
    QCOMPARE(stampe, 1);
    // Back to the services by itself; then key 2 takes a number of the shared sequence.
    QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 3000);
    QTest::keyClick(&w, Qt::Key_2);
    QTRY_COMPARE(w.testoNumero(), QString("Il suo numero è 1"));
    QCOMPARE(contatoreP(amb, "P11"), 1);
    QCOMPARE(contatoreP(amb, "P11Q"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 3000);
    QTest::keyClick(&w, Qt::Key_3); // no third service
    QCOMPARE(chiosco.schermata(), Schermata::Servizi);
    QCOMPARE(contatoreP(amb, "P2") + contatoreP(amb, "P11"), 2);
}

void TestTotemChiosco::nonAttivoEGuasto() {
    AmbienteProva amb; // RHDSN "NO"
    Chiosco chiosco(impostazioniProva(amb.archivio()));
    chiosco.impostaStampa([](const DatiBiglietto&) { return EsitoStampa{true, 1, {}}; });
    FinestraTotem w(&chiosco, {});
    QTRY_COMPARE(chiosco.schermata(), Schermata::NonAttivo);
    QCOMPARE(w.testoNumero(), QString("Totem non attivo"));
    QVERIFY(!chiosco.premi(0));
    QCOMPARE(contatoreP(amb, "P2"), 0);

    esegui(amb.file(nomi::FileTotem), "UPDATE Configurazione SET RHDSN = 'SI'");
    chiosco.controlla();
    QTRY_COMPARE(chiosco.schermata(), Schermata::Servizi);
    // Totem.mdb goes away: the press issues nothing and says so; the error stays in the status
    // line until the archive answers again.
    const QString totem = amb.file(nomi::FileTotem);
    QVERIFY(QFile::rename(totem, totem + ".via"));
    QVERIFY(chiosco.premi(0));
    QTRY_COMPARE(w.testoNumero(), QString("Servizio momentaneamente non disponibile"));
    QVERIFY2(w.testoStato().startsWith("Errore 3024"), qPrintable(w.testoStato()));
    QVERIFY(!QFile::exists(totem));
    QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 3000);
    QVERIFY(QFile::rename(totem + ".via", totem));
    chiosco.controlla();
    QTRY_COMPARE(w.testoStato(), QString());
    QVERIFY(chiosco.premi(0));
    QTRY_COMPARE(chiosco.schermata(), Schermata::Numero);
    QCOMPARE(contatoreP(amb, "P2"), 1);
}

void TestTotemChiosco::archivioBloccato() {
    // Another program holds Totem.mdb exclusively: every press has its answer within about two
    // seconds, the window keeps painting, and no ticket is issued until the lock goes.
    if (suiteSulServer())
        QSKIP("un blocco esclusivo di Totem.mdb è del solo archivio in cartella");
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    Chiosco chiosco(impostazioniProva(amb.archivio()));
    chiosco.impostaStampa([](const DatiBiglietto&) { return EsitoStampa{true, 1, {}}; });
    FinestraTotem w(&chiosco, {});
    w.show();
    QTRY_COMPARE(chiosco.schermata(), Schermata::Servizi);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "esclusivo");
        db.setDatabaseName(amb.file(nomi::FileTotem));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("BEGIN EXCLUSIVE"));
        for (int prova = 0; prova < 2; ++prova) {
            const Battito battito;
            QElapsedTimer t;
            t.start();
            QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::NonDisponibile, 10000);
            QCOMPARE(w.testoNumero(), QString("Servizio momentaneamente non disponibile"));
            qInfo(
                "Risposta con Totem.mdb bloccato: %lld ms, pausa più lunga della finestra %lld ms",
                t.elapsed(), battito.pausaMassima());
            QVERIFY2(t.elapsed() <= 2000, qPrintable(QString::number(t.elapsed())));
            QVERIFY2(battito.pausaMassima() < 500,
                     qPrintable(QString::number(battito.pausaMassima())));
            // A retried press meanwhile issues nothing.
            QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!chiosco.inAttesa(), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 5000);
        }
        QVERIFY(!w.testoStato().isEmpty());
        QVERIFY(q.exec("ROLLBACK"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("esclusivo");
    QCOMPARE(contatoreP(amb, "P2"), 0);
    QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
    QTRY_COMPARE(w.testoNumero(), QString("Il suo numero è 1"));
    QCOMPARE(contatoreP(amb, "P2"), 1);
}

void TestTotemChiosco::rispostaInRitardo_data() {
    QTest::addColumn<int>("ritardo"); // ms after the press at which the archive answers
    QTest::addColumn<bool>("mostrato");
    // Ritorno is 1 s: a customer told "unavailable" still gets a ticket issued within it.
    QTest::newRow("entro il ritorno") << Chiosco::LimiteRisposta + 500 << true;
    QTest::newRow("oltre il ritorno") << Chiosco::LimiteRisposta + 1800 << false;
}

void TestTotemChiosco::rispostaInRitardo() {
    // An archive that commits a ticket after the press was already told "unavailable": the number
    // is shown and printed only while its customer can still be there, and never twice.
    QFETCH(int, ritardo);
    QFETCH(bool, mostrato);
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    Chiosco chiosco(impostazioniProva(amb.archivio()));
    auto via = std::make_shared<QSemaphore>();
    auto chieste = std::make_shared<std::atomic<int>>(0);
    chiosco.impostaEmissione([via, chieste](const QString& cartella, int sequenza) {
        ++*chieste;
        via->acquire();
        return biglietti::emetti(cartella, sequenza);
    });
    QList<int> stampati;
    chiosco.impostaStampa([&](const DatiBiglietto& d) {
        stampati << d.numero;
        return EsitoStampa{true, 1, {}};
    });
    FinestraTotem w(&chiosco, {});
    QTRY_COMPARE(chiosco.schermata(), Schermata::Servizi);
    QElapsedTimer t;
    t.start();
    QVERIFY(chiosco.premi(0));
    QTRY_COMPARE(chiosco.schermata(), Schermata::Attesa);
    QCOMPARE(w.testoNumero(), QString("Un momento, prego..."));
    QVERIFY(!chiosco.premi(0));
    QTRY_COMPARE(chiosco.schermata(), Schermata::NonDisponibile);
    QVERIFY(t.elapsed() <= 2000);
    QVERIFY(!chiosco.premi(0) && !chiosco.premi(1));
    QTRY_VERIFY(t.elapsed() >= ritardo);
    QCOMPARE(chiosco.schermata(), Schermata::NonDisponibile); // still pending, not back
    via->release();
    QTRY_VERIFY(!chiosco.inAttesa());
    QCOMPARE(contatoreP(amb, "P2"), 1);
    QCOMPARE(chieste->load(), 1);
    if (mostrato) {
        QCOMPARE(w.testoNumero(), QString("Il suo numero è 1"));
        QCOMPARE(stampati, QList<int>{1});
        QVERIFY2(w.testoStato().isEmpty(), qPrintable(w.testoStato()));
    } else {
        QCOMPARE(chiosco.schermata(), Schermata::Servizi);
        QVERIFY(stampati.isEmpty());
        QVERIFY2(w.testoStato().contains("Biglietto 1 di \"Anagrafe\" emesso in ritardo"),
                 qPrintable(w.testoStato()));
    }
}

void TestTotemChiosco::serverCheNonRisponde() {
    // A server archive whose server takes the connection and then says nothing (a stopped
    // host): the kiosk keeps painting and shows the unavailable screen in time.
    if (!QSqlDatabase::isDriverAvailable("QPSQL"))
        QSKIP("driver QPSQL non installato");
    QTcpServer muto;
    QVERIFY(muto.listen(QHostAddress::LocalHost, 0));
    QList<QTcpSocket*> prese;
    connect(&muto, &QTcpServer::newConnection, &muto, [&] {
        while (QTcpSocket* p = muto.nextPendingConnection())
            prese << p;
    });
    ImpostazioniTotem s = impostazioniProva(
        QStringLiteral("postgresql://127.0.0.1:%1/ufficio").arg(muto.serverPort()));
    s.ritorno = 1;
    auto chiosco = std::make_unique<Chiosco>(s);
    chiosco->impostaStampa([](const DatiBiglietto&) { return EsitoStampa{true, 1, {}}; });
    auto w = std::make_unique<FinestraTotem>(chiosco.get(), QStringList{});
    w->show();
    const Battito battito;
    QElapsedTimer t;
    t.start();
    QTest::mouseClick(w->bottoniServizi()[0], Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->testoNumero(), QString("Servizio momentaneamente non disponibile"),
                              10000);
    qInfo("Risposta con il server muto: %lld ms", t.elapsed());
    QVERIFY2(t.elapsed() <= 2000, qPrintable(QString::number(t.elapsed())));
    QTest::mouseClick(w->bottoniServizi()[0], Qt::LeftButton);
    chiosco->controlla();
    QTest::qWait(500); // the window keeps painting while the server says nothing
    QVERIFY2(battito.pausaMassima() < 500, qPrintable(QString::number(battito.pausaMassima())));
    QVERIFY(!w->testoStato().isEmpty());
    // The server goes away: the answer comes, the kiosk goes back to its services.
    for (QTcpSocket* p : prese)
        p->abort();
    muto.close();
    QTRY_VERIFY_WITH_TIMEOUT(!chiosco->inAttesa(), 20000);
    w.reset();
    chiosco.reset();
}

void TestTotemChiosco::stampanteNonDisponibile() {
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    ImpostazioniTotem s = impostazioniProva(amb.archivio());
    s.modo = ModoStampa::EscPosFile;
    s.dispositivo = amb.cartella() + "/lp0-mancante";
    Chiosco chiosco(s);
    FinestraTotem w(&chiosco, {});
    QSignalSpy finita(&chiosco, &Chiosco::stampaFinita);
    QTRY_COMPARE(chiosco.schermata(), Schermata::Servizi);
    QVERIFY(chiosco.premi(0));
    QVERIFY(finita.wait(5000));
    QCOMPARE(finita.at(0).at(0).toBool(), false);
    QCOMPARE(contatoreP(amb, "P2"), 1); // the ticket still counts
    QVERIFY(chiosco.stampanteNonDisponibile());
    QVERIFY(w.findChild<QLabel*>("avvisoStampa")->text() ==
            QString("Stampante non disponibile: ricordi il suo numero"));
    QVERIFY2(w.testoStato().contains("lp0-mancante"), qPrintable(w.testoStato()));
    // The number stays on screen longer than the return time (1 s here).
    QTest::qWait(1300);
    QCOMPARE(chiosco.schermata(), Schermata::Numero);
    // Printing works again: the device appears, the status line clears.
    scriviFile(s.dispositivo, {});
    chiosco.controlla();
    QTRY_VERIFY2(!w.testoStato().contains("lp0-mancante"), qPrintable(w.testoStato()));
}

void TestTotemChiosco::stampanteBloccata() {
    // ESC/POS to a device that takes no bytes: each ticket fails in its time with the warning,
    // one print at a time, and once the device reads again the tickets come out in order.
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    ImpostazioniTotem s = impostazioniProva(amb.archivio());
    s.modo = ModoStampa::EscPosFile;
    s.dispositivo = amb.cartella() + "/lp0";
    FifoStampante fifo(s.dispositivo);
    Chiosco chiosco(s);
    FinestraTotem w(&chiosco, {});
    QSignalSpy finita(&chiosco, &Chiosco::stampaFinita);
    const auto premiQuandoPronto = [&] {
        QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 5000);
        QVERIFY(chiosco.premi(0));
        QTRY_COMPARE(chiosco.schermata(), Schermata::Numero);
    };
    // Nobody reads the device: the ticket fails at once.
    chiosco.impostaTempoStampa(800);
    premiQuandoPronto();
    QTRY_COMPARE_WITH_TIMEOUT(finita.size(), 1, 2000);
    QCOMPARE(finita.takeFirst().at(0).toBool(), false);
    QVERIFY2(w.testoStato().contains("lp0: dispositivo non pronto"), qPrintable(w.testoStato()));
    // Opened but full: the write waits for its time, then the same warning.
    fifo.apri();
    fifo.riempi();
    QElapsedTimer t;
    t.start();
    premiQuandoPronto();
    QTRY_COMPARE_WITH_TIMEOUT(finita.size(), 1, 3000);
    QCOMPARE(finita.takeFirst().at(0).toBool(), false);
    QVERIFY2(t.elapsed() >= 700, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(w.findChild<QLabel*>("avvisoStampa")->text(),
             QString("Stampante non disponibile: ricordi il suo numero"));
    QVERIFY2(w.testoStato().contains("non accetta il biglietto"), qPrintable(w.testoStato()));
    // Two more tickets while it is still full, then it reads again: both print, in order.
    chiosco.impostaTempoStampa(8000);
    premiQuandoPronto();
    premiQuandoPronto();
    QVERIFY(chiosco.stampaInCorso());
    QVERIFY(finita.isEmpty());
    // The printer takes what it was stuck on; the tickets may already follow in that read.
    QByteArray stampato = fifo.leggi();
    QTRY_COMPARE(finita.size(), 2);
    QVERIFY(finita.at(0).at(0).toBool() && finita.at(1).at(0).toBool());
    stampato += fifo.leggi();
    QCOMPARE(stampato.count("\x1b@"), 2);
    QVERIFY(stampato.indexOf(rigaNumero(3)) >= 0);
    QVERIFY(stampato.indexOf(rigaNumero(3)) < stampato.indexOf(rigaNumero(4)));
    QVERIFY(!stampato.contains(rigaNumero(2)));
    QTRY_VERIFY(!w.testoStato().contains("Stampa non riuscita"));
}

void TestTotemChiosco::impostazioniEPin() {
    ImpostazioniTotem s = impostazioniProva(QStringLiteral("/srv/qvr"));
    s.carta = 58;
    s.impostaPin(QStringLiteral("4711"));
    s.salva();
    QCOMPARE(ImpostazioniTotem::percorsoFile(), m_config.path() + "/qvr/qvr-totem.ini");
    const QByteArray file = contenuto(ImpostazioniTotem::percorsoFile());
    QVERIFY(!file.contains("4711"));
    QList<Problema> trovati;
    const ImpostazioniTotem letta = ImpostazioniTotem::carica(&trovati);
    const QStringList problemi = testiProblemi(trovati);
    QVERIFY2(problemi.isEmpty(), qPrintable(problemi.join('\n')));
    QCOMPARE(letta.servizi, s.servizi);
    QCOMPARE(letta.carta, 58);
    QVERIFY(letta.verificaPin(QStringLiteral("4711")));
    QVERIFY(!letta.verificaPin(QStringLiteral("4712")));
    QCOMPARE(letta.iterazioni, ImpostazioniTotem::IterazioniPin);
    // Only its owner reads it: it holds the PIN's hash. Still so after being written again.
    QCOMPARE(modo(ImpostazioniTotem::percorsoFile()), 0600);
    letta.salva();
    QCOMPARE(modo(ImpostazioniTotem::percorsoFile()), 0600);
    // A file an older version left readable by all is closed as it is read.
    QVERIFY(::chmod(QFile::encodeName(ImpostazioniTotem::percorsoFile()).constData(), 0644) == 0);
    ImpostazioniTotem::carica();
    QCOMPARE(modo(ImpostazioniTotem::percorsoFile()), 0600);
    // Same PIN, other salt: another hash.
    ImpostazioniTotem altra = s;
    altra.impostaPin(QStringLiteral("4711"));
    QVERIFY(altra.impronta != s.impronta);
}

void TestTotemChiosco::impostazioniDanneggiate() {
    scriviFile(ImpostazioniTotem::percorsoFile(),
               "[generale]\ncartella=/srv/qvr\nritorno=mai\n[stampa]\ncarta=A4\n"
               "[pin]\nsale=zz\nimpronta=1234\n[servizi]\n1\\etichetta=Anagrafe\n"
               "1\\sequenza=P12\n2\\etichetta=Referti\n2\\sequenza=P11\nsize=2\n\x01\x02\xff\n");
    QList<Problema> trovati;
    const ImpostazioniTotem s = ImpostazioniTotem::carica(&trovati);
    const QStringList problemi = testiProblemi(trovati);
    QCOMPARE(problemi.size(), 5); // not text, ritorno, carta, PIN, servizio 1
    QVERIFY2(problemi[0].startsWith("Errore 13") && problemi[0].contains("non di testo"),
             qPrintable(problemi[0]));
    QCOMPARE(s.servizi.size(), 1);
    QCOMPARE(s.servizi[0].sequenza, 11);
    QCOMPARE(s.ritorno, 6);
    QVERIFY(!s.haPin());
    QVERIFY(s.pinDanneggiato);
    QVERIFY(!s.verificaPin(QString()));
    // Saved again (the office's other settings), the damaged PIN stays as it was: still locked.
    s.salva();
    QVERIFY(ImpostazioniTotem::carica().pinDanneggiato);
}

void TestTotemChiosco::pinChiuso_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("servizi"); // the kiosk still serves
    const ImpostazioniTotem s = impostazioniProva({});
    const QByteArray buono = "[generale]\ncartella=/srv/qvr\n[servizi]\n1\\etichetta=Anagrafe\n"
                             "1\\sequenza=P2\nsize=1\n";
    QTest::newRow("sale accorciato")
        << buono + "[pin]\nsale=" + s.sale.left(30) + "\nimpronta=" + s.impronta + "\n"
        << true;
    QTest::newRow("iterazioni guaste")
        << buono + "[pin]\nsale=" + s.sale + "\nimpronta=" + s.impronta + "\niterazioni=molte\n"
        << true;
    QTest::newRow("file non di testo")
        << buono + QByteArray("\x00\x13\xfe\xff garbage", 13) << true;
    QTest::newRow("file illeggibile") << QByteArray("illeggibile") << true;
    QTest::newRow("una cartella al suo posto") << QByteArray("cartella") << false;
}

void TestTotemChiosco::pinChiuso() {
    // A PIN that cannot be checked keeps the settings closed: they never open by themselves and
    // no PIN, right or wrong, opens them.
    QFETCH(QByteArray, file);
    QFETCH(bool, servizi);
    const QString percorso = ImpostazioniTotem::percorsoFile();
    if (file == "illeggibile") {
        if (::geteuid() == 0)
            QSKIP("eseguito come root: ogni file è leggibile");
        scriviFile(percorso, "[generale]\ncartella=/srv/qvr\n");
        QVERIFY(QFile::setPermissions(percorso, {}));
    } else if (file == "cartella") {
        QVERIFY(QDir().mkpath(percorso));
    } else {
        scriviFile(percorso, file);
    }
    const GuardiaImpostazioni guardia;
    QList<Problema> trovati;
    const ImpostazioniTotem s = ImpostazioniTotem::carica(&trovati);
    const QStringList problemi = testiProblemi(trovati);
    QVERIFY(s.pinDanneggiato);
    QVERIFY(!problemi.isEmpty());
    Chiosco chiosco(s);
    FinestraTotem w(&chiosco, problemi);
    int chiesti = 0;
    w.impostaRichiestaPin([&]() -> std::optional<QString> {
        ++chiesti;
        return PinProva;
    });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.testoStato().contains(problemi.first()));
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(guardia.aperte(), 0);
    QCOMPARE(chiesti, 0);
    QVERIFY2(w.testoStato().contains("qvr-totem --reimposta-pin"), qPrintable(w.testoStato()));
    QCOMPARE(chiosco.schermata() != Schermata::SenzaPin, true);
    if (servizi)
        QCOMPARE(w.bottoniServizi().size(), 1);
    QFile::setPermissions(percorso, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QDir(percorso).removeRecursively();
}

void TestTotemChiosco::primoPin() {
    // A fresh install: no PIN, so no tickets and no settings, only the page that sets the PIN.
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    ImpostazioniTotem s = impostazioniProva(amb.archivio());
    s.sale.clear();
    s.impronta.clear();
    s.salva();
    const GuardiaImpostazioni guardia;
    Chiosco chiosco(ImpostazioniTotem::carica());
    FinestraTotem w(&chiosco, {});
    int chiesti = 0;
    w.impostaRichiestaPin([&]() -> std::optional<QString> {
        ++chiesti;
        return QStringLiteral("2468");
    });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(chiosco.schermata(), Schermata::SenzaPin);
    QVERIFY(!chiosco.premi(0));
    QTest::keyClick(&w, Qt::Key_1);
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(guardia.aperte(), 0);
    QCOMPARE(chiesti, 0);
    QCOMPARE(contatoreP(amb, "P2"), 0);
    // Too short, then two that differ: refused.
    QTest::keyClicks(w.campoPrimoPin(), "12");
    QTest::keyClicks(w.campoConfermaPrimoPin(), "12");
    QTest::mouseClick(w.bottonePrimoPin(), Qt::LeftButton);
    QCOMPARE(chiosco.schermata(), Schermata::SenzaPin);
    QTest::keyClicks(w.campoPrimoPin(), "2468");
    QTest::keyClicks(w.campoConfermaPrimoPin(), "2469");
    QTest::mouseClick(w.bottonePrimoPin(), Qt::LeftButton);
    QCOMPARE(chiosco.schermata(), Schermata::SenzaPin);
    QVERIFY(!ImpostazioniTotem::carica().haPin());
    QTest::keyClicks(w.campoPrimoPin(), "2468");
    QTest::keyClicks(w.campoConfermaPrimoPin(), "2468");
    QTest::mouseClick(w.bottonePrimoPin(), Qt::LeftButton);
    QTRY_COMPARE(chiosco.schermata(), Schermata::Servizi);
    const ImpostazioniTotem salvate = ImpostazioniTotem::carica();
    QVERIFY(salvate.verificaPin(QStringLiteral("2468")));
    QCOMPARE(salvate.servizi, s.servizi); // the rest of the file as it was
    // Now the settings open, behind that PIN.
    int aperte = 0;
    w.impostaApertura([&](FinestraImpostazioni&) {
        ++aperte;
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCOMPARE(chiesti, 1);
    QCOMPARE(aperte, 1);
    QVERIFY(chiosco.premi(0));
    QTRY_COMPARE(w.testoNumero(), QString("Il suo numero è 1"));
}

void TestTotemChiosco::reimpostaPin() {
    // The administrator's recovery from a damaged PIN, on the terminal: the rest is kept.
    const QString percorso = ImpostazioniTotem::percorsoFile();
    scriviFile(percorso, "[generale]\ncartella=/srv/qvr\n[pin]\nsale=12\nimpronta=34\n");
    const auto esegui = [](const QByteArray& ingresso, QString* uscita) {
        QProcess p;
        p.start(cartellaBuild() + "/qvr-totem", {"--reimposta-pin"});
        p.write(ingresso);
        p.closeWriteChannel();
        p.waitForFinished(30000);
        *uscita = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QString uscita;
    QCOMPARE(esegui("1357\n1375\n", &uscita), 1);
    QVERIFY2(uscita.contains("non coincidono"), qPrintable(uscita));
    QCOMPARE(esegui("13\n13\n", &uscita), 1);
    QVERIFY(ImpostazioniTotem::carica().pinDanneggiato);
    QCOMPARE(esegui("1357\n1357\n", &uscita), 0);
    QVERIFY2(uscita.contains(percorso), qPrintable(uscita));
    const ImpostazioniTotem s = ImpostazioniTotem::carica();
    QVERIFY(!s.pinDanneggiato);
    QVERIFY(s.verificaPin(QStringLiteral("1357")));
    QCOMPARE(s.cartella, QString("/srv/qvr"));
    QCOMPARE(modo(percorso), 0600);
}

void TestTotemChiosco::pausaDopoPinErrati() {
    // Wrong PINs: the first tries are free, then each wrong one doubles the pause, up to its top;
    // while the pause lasts the PIN is not even asked. The clock is the test's.
    qint64 adesso = 1000;
    TentativiPin t([&] { return adesso; });
    for (int i = 0; i < TentativiPin::TentativiLiberi - 1; ++i) {
        t.errato();
        QCOMPARE(t.attesa(), 0);
    }
    qint64 attesa = TentativiPin::PrimaPausa;
    for (int i = 0; i < 12; ++i) {
        t.errato();
        QCOMPARE(t.attesa(), std::min(attesa, TentativiPin::PausaMassima));
        adesso += t.attesa();
        QCOMPARE(t.attesa(), 0);
        attesa *= 2;
    }
    t.giusto();
    t.errato();
    QCOMPARE(t.attesa(), 0);

    // Through the window.
    Chiosco chiosco(impostazioniProva(QStringLiteral("/nessuna")));
    FinestraTotem w(&chiosco, {});
    w.impostaOrologioPin([&] { return adesso; });
    QString provato = QStringLiteral("0000");
    int chiesti = 0;
    w.impostaRichiestaPin([&]() -> std::optional<QString> {
        ++chiesti;
        return provato;
    });
    int aperte = 0;
    w.impostaApertura([&](FinestraImpostazioni&) {
        ++aperte;
        return int(QDialog::Rejected);
    });
    for (int i = 0; i < TentativiPin::TentativiLiberi; ++i)
        QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCOMPARE(chiesti, TentativiPin::TentativiLiberi);
    QVERIFY2(w.testoStato().contains("riprovare tra 5 s"), qPrintable(w.testoStato()));
    provato = PinProva;
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCOMPARE(chiesti, TentativiPin::TentativiLiberi); // not asked during the pause
    QCOMPARE(aperte, 0);
    QVERIFY2(w.testoStato().contains("Troppi PIN errati"), qPrintable(w.testoStato()));
    adesso += TentativiPin::PrimaPausa;
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCOMPARE(aperte, 1);
}

void TestTotemChiosco::pinDiPrima() {
    // A hash written before the iterations were kept with it (20000) still opens the settings,
    // and is then made again with today's count. The cost of one check is printed.
    ImpostazioniTotem s = impostazioniProva(QStringLiteral("/srv/qvr"));
    s.salva();
    const QString percorso = ImpostazioniTotem::percorsoFile();
    QSettings ini(percorso, QSettings::IniFormat);
    ini.setValue("pin/impronta", pbkdf2("2580", s.sale, 20000).toHex());
    ini.remove("pin/iterazioni");
    ini.sync();
    const ImpostazioniTotem vecchie = ImpostazioniTotem::carica();
    QCOMPARE(vecchie.iterazioni, ImpostazioniTotem::IterazioniPrima);
    QVERIFY(vecchie.verificaPin("2580"));
    Chiosco chiosco(vecchie);
    FinestraTotem w(&chiosco, {});
    w.impostaRichiestaPin([] { return std::optional<QString>("2580"); });
    int aperte = 0;
    w.impostaApertura([&](FinestraImpostazioni&) {
        ++aperte;
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCOMPARE(aperte, 1);
    const ImpostazioniTotem nuove = ImpostazioniTotem::carica();
    QCOMPARE(nuove.iterazioni, ImpostazioniTotem::IterazioniPin);
    QVERIFY(nuove.verificaPin("2580"));
    QElapsedTimer t;
    timespec cpuPrima{}, cpuDopo{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuPrima);
    t.start();
    QVERIFY(!nuove.verificaPin("2581"));
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuDopo);
    qInfo("Verifica di un PIN (%d iterazioni): %lld ms, %.0f ms di CPU", nuove.iterazioni,
          t.elapsed(),
          (cpuDopo.tv_sec - cpuPrima.tv_sec) * 1e3 + (cpuDopo.tv_nsec - cpuPrima.tv_nsec) / 1e6);
}

void TestTotemChiosco::tuttoSchermo() {
    // In full screen a close request (Alt+F4) is ignored; the way out is in the settings.
    Chiosco chiosco(impostazioniProva(QStringLiteral("/nessuna")));
    FinestraTotem w(&chiosco, {});
    w.showFullScreen();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    w.impostaRichiestaPin([] { return std::optional<QString>(PinProva); });
    w.impostaApertura([](FinestraImpostazioni& f) {
        f.findChild<QPushButton*>("chiudiTotem")->click();
        return f.result();
    });
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QVERIFY(!w.isVisible());
    // In a window (--finestra) it closes as any window does.
    FinestraTotem finestra(&chiosco, {});
    finestra.show();
    QVERIFY(finestra.close());
}

void TestTotemChiosco::pannelloImpostazioni_data() {
    QTest::addColumn<QSize>("schermo");
    QTest::newRow("1280x720") << QSize(1280, 720);
    QTest::newRow("1920x1080") << QSize(1920, 1080);
}

void TestTotemChiosco::pannelloImpostazioni() {
    // The settings panel lies between the header (office and clock) and the status line, never
    // over them, and its buttons are inside it whatever the screen.
    QFETCH(QSize, schermo);
    Chiosco chiosco(impostazioniProva(QStringLiteral("/nessuna")));
    FinestraTotem w(&chiosco, {QStringLiteral("Errore 13: un problema da mostrare")});
    w.resize(schermo);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.impostaRichiestaPin([] { return std::optional<QString>(PinProva); });
    QRect pannello;
    QRect salva;
    w.impostaApertura([&](FinestraImpostazioni& f) {
        f.show();
        pannello = f.geometry();
        const auto* b = f.findChild<QDialogButtonBox*>();
        salva = QRect(b->mapToGlobal(QPoint(0, 0)), b->size());
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QVERIFY(pannello.isValid());
    const auto globale = [](const QWidget* x) {
        return QRect(x->mapToGlobal(QPoint(0, 0)), x->size());
    };
    const QRect ora = globale(w.findChild<QLabel*>("ora"));
    const QRect stato = globale(w.findChild<QLabel*>("stato"));
    QVERIFY2(pannello.top() > ora.bottom(),
             qPrintable(QString("%1 %2").arg(pannello.top()).arg(ora.bottom())));
    QVERIFY(pannello.bottom() < stato.top());
    QVERIFY(pannello.contains(salva));
}

void TestTotemChiosco::finestraImpostazioni() {
    // Behind the PIN: a bad server address is refused with the message, a sound one saved; the
    // new day's confirmation goes through the message boxes. (Before any file: the folder given
    // on the command line takes away its own problem, by its key.)
    QList<Problema> nessunFile;
    ImpostazioniTotem::carica(&nessunFile);
    QCOMPARE(testiProblemi(senzaProblemiDi(nessunFile, chiavi::cartella.testo())),
             QStringList{"Nessun servizio impostato"});
    Chiosco chiosco(impostazioniProva(QStringLiteral("/nessuna")));
    FinestraTotem w(&chiosco, {});
    w.impostaRichiestaPin([] { return std::optional<QString>(PinProva); });
    messaggi::azzeraRegistro();
    const QString buono = QStringLiteral("postgresql://qvr@127.0.0.1:1/ufficio1");
    w.impostaApertura([&](FinestraImpostazioni& f) {
        auto* esito = f.findChild<QLabel*>("esito");
        messaggi::accodaRisposta(QMessageBox::No);
        f.findChild<QPushButton*>("nuovaGiornata")->click();
        [&] {
            QCOMPARE(messaggi::registro().size(), 1);
            QCOMPARE(messaggi::registro()[0].titolo, QStringLiteral("Nuova giornata"));
            QCOMPARE(messaggi::registro()[0].testiPulsanti.value(QMessageBox::Yes),
                     QStringLiteral("A&zzera"));
            QVERIFY(esito->text().isEmpty());
            messaggi::accodaRisposta(QMessageBox::Yes);
            f.findChild<QPushButton*>("nuovaGiornata")->click();
            QVERIFY2(esito->text().contains("interrotta"), qPrintable(esito->text()));
            messaggi::accodaRisposta(QMessageBox::Ok);
            f.campoCartella()->testo()->setText(QStringLiteral("postgresql://srv:x/u"));
            f.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            QCOMPARE(messaggi::registro().size(), 3);
            QVERIFY(messaggi::registro()[2].testo.startsWith(archivio_campo::TestoServerNonValido));
            QCOMPARE(f.result(), int(QDialog::Rejected));
            f.campoCartella()->testo()->setText(buono);
            f.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        }();
        return f.result();
    });
    QTest::mouseClick(w.bottoneImpostazioni(), Qt::LeftButton);
    QCOMPARE(messaggi::registro().size(), 3);
    QCOMPARE(ImpostazioniTotem::carica().cartella, buono);
    QCOMPARE(chiosco.impostazioni().cartella, buono);
}

void TestTotemChiosco::escPos() {
    const DatiBiglietto d{QStringLiteral("Città di Prova"), QStringLiteral("Ritiro referti"), 57, 3,
                          QDateTime(QDate(2026, 12, 8), QTime(9, 5))};
    const QByteArray b = escPosBiglietto(d, 58);
    QVERIFY(b.startsWith("\x1b@"));
    QVERIFY(b.contains("Citt\x85 di Prova\n"));
    QVERIFY(b.contains(QByteArray("\x1d!\x77", 3) + "57\n"));
    QVERIFY(b.contains("Ritiro referti\n"));
    QVERIFY(b.contains("3 persone prima di lei\n"));
    QVERIFY(b.contains("08/12/2026 09:05\n"));
    QVERIFY(b.endsWith(QByteArray("\x1dV\x42\x03", 4)));
    // 32 columns on 58 mm paper.
    DatiBiglietto lungo = d;
    lungo.servizio = QString(60, 'x');
    QVERIFY(escPosBiglietto(lungo, 58).contains(QByteArray(32, 'x') + '\n'));
    QVERIFY(!escPosBiglietto(lungo, 58).contains(QByteArray(33, 'x')));
}

QTEST_MAIN(TestTotemChiosco)
#include "test_totem_chiosco.moc"
