// The manager's window at a real desk: an X server with its window manager (openbox, started
// here when none runs), real keys through xdotool. Station 3 goes to single numbering and
// station 4 gets another user with the keyboard alone; then the real client of station 3 is
// started and calls in single numbering.
//
// Needs an X server (DISPLAY) and xdotool; without them the test is skipped.

#include "ufficio_prova.h"

#include "archive/lettore.h"
#include "archive/nomi.h"
#include "finestre/messaggi.h"
#include "ufficio/finestra_ufficio.h"

#include <QApplication>
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

} // namespace

class TestUfficioScrivania : public QObject {
    Q_OBJECT
    QProcess m_openbox;
    QProcess m_client;

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

    void cleanup() {
        if (m_client.state() != QProcess::NotRunning) {
            m_client.kill();
            m_client.waitForFinished(5000);
        }
    }

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

        // The real client of station 3: launcher, "Avvia Client", then Space on " Avanti     ".
        u.ambiente.scriviPercorsi(3);
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        ambiente.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_client.setProcessEnvironment(ambiente);
        m_client.setWorkingDirectory(u.ambiente.cartella());
        m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_client.start(test::cartellaBuild() + QStringLiteral("/qvr-client"), {});
        QVERIFY2(m_client.waitForStarted(10000), qPrintable(m_client.errorString()));
        const QString titolo = QStringLiteral("^QVR - 3\\.7\\.2 - Modulo Client$");
        const QString apertura = finestraDi(m_client.processId(), titolo);
        QVERIFY2(!apertura.isEmpty(), "la finestra di avvio del client non compare");
        esegui(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"), apertura});
        QVERIFY(tasti({QStringLiteral("Tab"), QStringLiteral("space")}));
        const QString console = finestraDi(m_client.processId(), titolo, apertura);
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
