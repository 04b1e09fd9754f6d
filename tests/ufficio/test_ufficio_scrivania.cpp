// The manager's window at a real desk: an X server with its window manager (openbox, started
// here when none runs), real keys through xdotool. Station 3 goes to single numbering and
// station 4 gets another user with the keyboard alone; then the real client of station 3 is
// started and calls in single numbering, and the real client of station 4 shows its new user,
// read as a screen reader reads it: through the accessibility bus (at-spi2-core) of a session
// bus of the test's own.
//
// Needs an X server (DISPLAY) and xdotool; without them the test is skipped.

#include "ufficio_prova.h"

#include "archive/lettore.h"
#include "archive/nomi.h"
#include "finestre/messaggi.h"
#include "ufficio/finestra_ufficio.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace qvr;
using namespace qvr::ufficio;

namespace {

constexpr int Attesa = 15000; // ms for a window, a focus or an archive change

QString esegui(const QString& programma, const QStringList& argomenti, bool* riuscito = nullptr) {
    QProcess p;
    p.start(programma, argomenti);
    const bool finito = p.waitForFinished(10000);
    if (riuscito)
        *riuscito = finito && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

bool gestorePresente() {
    return esegui(QStringLiteral("xprop"),
                  {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
        .contains(QStringLiteral("window id"));
}

bool tasti(const QStringList& elenco) {
    bool ok = false;
    esegui(QStringLiteral("xdotool"),
           QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} +
               elenco,
           &ok);
    return ok;
}

bool clientInEsecuzione() {
    const auto voci = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& voce : voci) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(voce));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "qvr-client")
            return true;
    }
    return false;
}

// The newest visible window of process `pid` titled `titolo` (a regular expression), waited for.
QString finestraDi(qint64 pid, const QString& titolo, const QString& escludi = {}) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < Attesa) {
        const QStringList id = esegui(QStringLiteral("xdotool"),
                                      {QStringLiteral("search"), QStringLiteral("--all"),
                                       QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                       QString::number(pid), QStringLiteral("--name"), titolo})
                                   .split(u'\n', Qt::SkipEmptyParts);
        for (const QString& i : id)
            if (i != escludi)
                return i;
        QTest::qWait(100);
    }
    return {};
}

// A session bus of the test's own, and the accessibility bus it starts for the programs that
// run with ambiente() (Qt then exposes every widget there, as to a screen reader).
class Accessibilita {
public:
    ~Accessibilita() {
        QDBusConnection::disconnectFromBus(QStringLiteral("a11y"));
        QDBusConnection::disconnectFromBus(QStringLiteral("sessione"));
        m_sessione.kill();
        m_sessione.waitForFinished(5000);
    }
    bool avvia() {
        m_sessione.start(QStringLiteral("dbus-daemon"),
                         {QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1")});
        if (!m_sessione.waitForReadyRead(Attesa))
            return false;
        m_indirizzo = QString::fromLatin1(m_sessione.readLine()).trimmed();
        return !m_indirizzo.isEmpty();
    }
    void prepara(QProcessEnvironment& e) const {
        e.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_indirizzo);
        e.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    }
    // The text of every label of program `programma`'s windows, as the bus gives it now.
    QStringList etichette(const QString& programma) {
        QStringList testi;
        const QDBusConnection a11y = bus();
        for (const auto& [servizio, percorso] :
             figli(a11y, QStringLiteral("org.a11y.atspi.Registry"),
                   QStringLiteral("/org/a11y/atspi/accessible/root")))
            if (nome(a11y, servizio, percorso) == programma)
                raccogli(a11y, servizio, percorso, testi);
        return testi;
    }

private:
    using Oggetto = std::pair<QString, QString>; // bus name, object path
    QDBusConnection bus() {
        if (QDBusConnection c(QStringLiteral("a11y")); c.isConnected())
            return c;
        const QDBusConnection sessione =
            QDBusConnection::connectToBus(m_indirizzo, QStringLiteral("sessione"));
        const QDBusMessage r =
            sessione.call(QDBusMessage::createMethodCall(
                              QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                              QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                          QDBus::Block, Attesa);
        return QDBusConnection::connectToBus(r.arguments().value(0).toString(),
                                             QStringLiteral("a11y"));
    }
    static QDBusMessage chiama(const QDBusConnection& c, const Oggetto& o, const QString& metodo,
                               const QString& interfaccia, const QVariantList& argomenti = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(o.first, o.second, interfaccia, metodo);
        m.setArguments(argomenti);
        return c.call(m, QDBus::Block, 5000);
    }
    static QVector<Oggetto> figli(const QDBusConnection& c, const QString& s, const QString& p) {
        QVector<Oggetto> elenco;
        const QDBusMessage r = chiama(c, {s, p}, QStringLiteral("GetChildren"),
                                      QStringLiteral("org.a11y.atspi.Accessible"));
        if (r.type() != QDBusMessage::ReplyMessage)
            return elenco;
        const QDBusArgument a = r.arguments().value(0).value<QDBusArgument>();
        a.beginArray();
        while (!a.atEnd()) {
            QString servizio;
            QDBusObjectPath percorso;
            a.beginStructure();
            a >> servizio >> percorso;
            a.endStructure();
            elenco.push_back({servizio, percorso.path()});
        }
        a.endArray();
        return elenco;
    }
    static QString nome(const QDBusConnection& c, const QString& s, const QString& p) {
        const QDBusMessage r = chiama(
            c, {s, p}, QStringLiteral("Get"), QStringLiteral("org.freedesktop.DBus.Properties"),
            {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
        return r.arguments().value(0).value<QDBusVariant>().variant().toString();
    }
    static void raccogli(const QDBusConnection& c, const QString& s, const QString& p,
                         QStringList& testi) {
        const QDBusMessage ruolo = chiama(c, {s, p}, QStringLiteral("GetRoleName"),
                                          QStringLiteral("org.a11y.atspi.Accessible"));
        if (ruolo.arguments().value(0).toString() == QLatin1String("label"))
            testi << nome(c, s, p);
        for (const auto& [servizio, percorso] : figli(c, s, p))
            raccogli(c, servizio, percorso, testi);
    }

    QProcess m_sessione;
    QString m_indirizzo;
};

} // namespace

class TestUfficioScrivania : public QObject {
    Q_OBJECT
    QProcess m_openbox;
    QProcess m_client;

    void fermaClient() {
        if (m_client.state() != QProcess::NotRunning) {
            m_client.kill();
            m_client.waitForFinished(5000);
        }
    }
    // The real client of `postazione` on the archive of `u`, on the accessibility bus; its
    // launcher's window id, or "" when it does not show.
    QString avviaClient(const test::UfficioProva& u, int postazione, const Accessibilita& a) {
        u.ambiente.scriviPercorsi(postazione);
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        ambiente.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        a.prepara(ambiente);
        m_client.setProcessEnvironment(ambiente);
        m_client.setWorkingDirectory(u.ambiente.cartella());
        m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_client.start(test::cartellaBuild() + QStringLiteral("/qvr-client"), {});
        if (!m_client.waitForStarted(10000))
            return {};
        return finestraDi(m_client.processId(), TitoloClient);
    }
    inline static const QString TitoloClient = QStringLiteral("^QVR - 3\\.7\\.2 - Modulo Client$");

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("Nessun server X (DISPLAY non impostata): la prova va eseguita sotto xvfb-run.");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool non installato.");
        if (!gestorePresente()) {
            m_openbox.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            QVERIFY(QTest::qWaitFor(gestorePresente, Attesa));
        }
        // One client per machine: another one (another test, a demo) would stop ours.
        QVERIFY2(QTest::qWaitFor([] { return !clientInEsecuzione(); }, 120000),
                 "un'altra copia di qvr-client resta in esecuzione");
    }

    void cleanupTestCase() {
        if (m_openbox.state() != QProcess::NotRunning) {
            m_openbox.terminate();
            m_openbox.waitForFinished(5000);
        }
    }

    void cleanup() { fermaClient(); }

    void singolaEUtenteDaTastiera() {
        test::UfficioProva u;
        const QString utente5 = leggiConfigurazione(u.archivio()).utente(5)->nominativo;
        FinestraUfficio w(u.archivio());
        w.resize(1366, 740);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w, Attesa));
        bool ok = false;
        esegui(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                QString::number(w.winId())},
               &ok);
        QVERIFY(QTest::qWaitForWindowActive(&w, Attesa));

        // Alt+3 takes station 3's user, Tab its numbering, Down "Numerazione singola";
        // Alt+4 takes station 4's user, Down the next user.
        QVERIFY(tasti({QStringLiteral("alt+3"), QStringLiteral("Tab"), QStringLiteral("Down")}));
        QTRY_COMPARE_WITH_TIMEOUT(u.grezzo(Campo::postoModo(3)).toString(), ModoSingolo, Attesa);
        QVERIFY(tasti({QStringLiteral("alt+4"), QStringLiteral("Down")}));
        QTRY_COMPARE_WITH_TIMEOUT(u.grezzo(Campo::postoId(4)).toInt(), 5, Attesa);
        QVERIFY(messaggi::registro().isEmpty());
        QVERIFY2(w.testoStato().contains(utente5), qPrintable(w.testoStato()));
        // What the stations' launchers and the board read for station 4 now.
        QCOMPARE(LettoreArchivio(u.archivio()).leggiAssegnazioni(true)[3].nominativo, utente5);

        Accessibilita lettore;
        QVERIFY2(lettore.avvia(), "il bus di sessione (dbus-daemon) non si avvia");

        // The real client of station 3: launcher, "Avvia Client", then Space on " Avanti     ".
        const QString apertura = avviaClient(u, 3, lettore);
        QVERIFY2(!apertura.isEmpty(), "la finestra di avvio del client non compare");
        esegui(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"), apertura});
        QVERIFY(tasti({QStringLiteral("Tab"), QStringLiteral("space")}));
        const QString console = finestraDi(m_client.processId(), TitoloClient, apertura);
        QVERIFY2(!console.isEmpty(), "la console non compare");
        esegui(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"), console});
        QTest::qWait(300);
        QVERIFY(tasti({QStringLiteral("space")}));
        // Single numbering: the number is drawn from the shared counter and published in
        // NumerazioneSingle3; the display record is not written.
        const QString qvra = u.ambiente.file(nomi::FileQVRA);
        QTRY_COMPARE_WITH_TIMEOUT(
            test::interroga(qvra, QStringLiteral("SELECT NUMERO FROM NumerazioneSingle3")).toInt(),
            1, Attesa);
        QCOMPARE(test::contatoreGrezzo(u.ambiente.file(nomi::FileContatore)), QByteArray("1\r\n"));
        QCOMPARE(test::interroga(u.ambiente.file(nomi::FileQVRB),
                                 QStringLiteral("SELECT NumeroA1 FROM NumeriCode3"))
                     .toInt(),
                 0);
        // The manager's window sees the call.
        QTRY_VERIFY_WITH_TIMEOUT(
            w.findChild<QLabel*>(QStringLiteral("numero3"))->text().startsWith(u'1'), Attesa);

        // The real client of station 4 shows its new user, as a screen reader reads it.
        fermaClient();
        QVERIFY2(!avviaClient(u, 4, lettore).isEmpty(),
                 "la finestra di avvio del client non compare");
        const QString client = QStringLiteral("qvr-client");
        QTRY_VERIFY_WITH_TIMEOUT(lettore.etichette(client).contains(utente5), Attesa);
        QVERIFY(lettore.etichette(client).contains(QStringLiteral("Postazione 4")));
        fermaClient(); // before its session bus goes
    }
};

int main(int argc, char* argv[]) {
    // A real X display, whatever the test runner set.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication applicazione(argc, argv);
    TestUfficioScrivania prova;
    return QTest::qExec(&prova, argc, argv);
}

#include "test_ufficio_scrivania.moc"
