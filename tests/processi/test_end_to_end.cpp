// A day at the desk with the real client: it is started on a demo archive on an X server and
// driven with the keyboard and the mouse (xdotool), from the launcher through calls, a wait, a
// chosen number, the previous number, a set number, a reset and the close with its question.
// Afterwards the archive and the history file are checked.
//
// Needs an X server (DISPLAY) and xdotool; without them the test is skipped. The README's test
// command runs the tests under xvfb-run.

#include "archive/crea_archivio.h"
#include "archive/nomi.h"
#include "supporto.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <dlfcn.h>

using namespace qvr;

namespace {

const QString Didascalia = QStringLiteral("^QVR - 3\\.7\\.2 - Modulo Client$");
constexpr int Attesa = 15000; // ms for any window or archive change to appear

// Sends the window manager's close request (WM_DELETE_WINDOW) to a window, as the close box
// does. libX11 is loaded at run time so that the test needs no X11 headers or link.
bool richiediChiusura(unsigned long finestra) {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11)
        return false;
    using Apri = void* (*)(const char*);
    using Atomo = unsigned long (*)(void*, const char*, int);
    using Invia = int (*)(void*, unsigned long, int, long, void*);
    using Svuota = int (*)(void*);
    using Chiudi = int (*)(void*);
    auto apri = reinterpret_cast<Apri>(dlsym(x11, "XOpenDisplay"));
    auto atomo = reinterpret_cast<Atomo>(dlsym(x11, "XInternAtom"));
    auto invia = reinterpret_cast<Invia>(dlsym(x11, "XSendEvent"));
    auto svuota = reinterpret_cast<Svuota>(dlsym(x11, "XFlush"));
    auto chiudi = reinterpret_cast<Chiudi>(dlsym(x11, "XCloseDisplay"));
    bool fatto = false;
    if (apri && atomo && invia && svuota && chiudi) {
        if (void* schermo = apri(nullptr)) {
            // XClientMessageEvent, inside the 24-long XEvent union.
            struct MessaggioClient {
                int type;
                unsigned long serial;
                int send_event;
                void* display;
                unsigned long window;
                unsigned long message_type;
                int format;
                long l[5];
            };
            union {
                MessaggioClient c;
                long pad[24];
            } evento{};
            evento.c.type = 33; // ClientMessage
            evento.c.display = schermo;
            evento.c.window = finestra;
            evento.c.message_type = atomo(schermo, "WM_PROTOCOLS", 0);
            evento.c.format = 32;
            evento.c.l[0] = static_cast<long>(atomo(schermo, "WM_DELETE_WINDOW", 0));
            evento.c.l[1] = 0; // CurrentTime
            fatto = invia(schermo, finestra, 0, 0, &evento) != 0;
            svuota(schermo);
            chiudi(schermo);
        }
    }
    dlclose(x11);
    return fatto;
}

// Process ids of running copies of the client (other than those in `escludi`).
QList<qint64> copieInEsecuzione() {
    QList<qint64> pid;
    const auto voci = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& voce : voci) {
        bool numero = false;
        const qint64 id = voce.toLongLong(&numero);
        if (!numero)
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(voce));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "qvr-client")
            pid.append(id);
    }
    return pid;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    QString m_xdotool;
    QProcess m_client;
    QString m_ultimoErrore;

    // Runs xdotool; false when it failed (the reason in m_ultimoErrore).
    bool xdo(const QStringList& argomenti, QString* uscita = nullptr) {
        QProcess p;
        p.start(m_xdotool, argomenti);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            m_ultimoErrore = QStringLiteral("xdotool %1: timeout").arg(argomenti.join(' '));
            return false;
        }
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_ultimoErrore =
                QStringLiteral("xdotool %1: %2")
                    .arg(argomenti.join(' '), QString::fromLocal8Bit(p.readAllStandardError()));
            return false;
        }
        if (uscita)
            *uscita = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        return true;
    }

    QStringList finestreVisibili(const QString& nome = {}) {
        QStringList argomenti{QStringLiteral("search"), QStringLiteral("--all"),
                              QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                              QString::number(m_client.processId())};
        if (!nome.isNull())
            argomenti << QStringLiteral("--name") << nome;
        QString uscita;
        xdo(argomenti, &uscita); // no window found is a failure of xdotool too
        return uscita.isEmpty() ? QStringList{} : uscita.split('\n', Qt::SkipEmptyParts);
    }

    // Waits for a visible window of the client whose title matches `nome`.
    QString attendiFinestra(const QString& nome, const QStringList& escludi = {}) {
        QElapsedTimer tempo;
        tempo.start();
        while (tempo.elapsed() < Attesa && m_client.state() == QProcess::Running) {
            for (const QString& id : finestreVisibili(nome))
                if (!escludi.contains(id))
                    return id;
            QThread::msleep(100);
        }
        return {};
    }

    bool attendiScomparsa(const QString& finestra) {
        QElapsedTimer tempo;
        tempo.start();
        while (tempo.elapsed() < Attesa) {
            if (m_client.state() != QProcess::Running || !finestreVisibili().contains(finestra))
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    QSize dimensioni(const QString& finestra) {
        QString uscita;
        xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), finestra}, &uscita);
        QSize d;
        for (const QString& riga : uscita.split('\n')) {
            if (riga.startsWith(QStringLiteral("WIDTH=")))
                d.setWidth(riga.mid(6).toInt());
            if (riga.startsWith(QStringLiteral("HEIGHT=")))
                d.setHeight(riga.mid(7).toInt());
        }
        return d;
    }

    bool fuoco(const QString& finestra) {
        return xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), finestra});
    }

    bool tasti(const QStringList& elenco) {
        QStringList argomenti{QStringLiteral("key"), QStringLiteral("--delay"),
                              QStringLiteral("60")};
        return xdo(argomenti + elenco);
    }

    bool clic(const QString& finestra, QPoint punto) {
        return xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), finestra,
                    QString::number(punto.x()), QString::number(punto.y()), QStringLiteral("click"),
                    QStringLiteral("1")});
    }

    // Waits until the query on the database gives `atteso` (compared as text).
    bool attendiValore(const QString& db, const QString& sql, const QString& atteso,
                       QString* ultimo) {
        QElapsedTimer tempo;
        tempo.start();
        while (tempo.elapsed() < Attesa) {
            try {
                *ultimo = test::interroga(db, sql).toString();
                if (*ultimo == atteso)
                    return true;
            } catch (const std::exception& e) {
                *ultimo = QString::fromLocal8Bit(e.what()); // busy while the client writes
            }
            QThread::msleep(100);
        }
        return false;
    }

    void fermaClient() {
        if (m_client.state() != QProcess::NotRunning) {
            m_client.kill();
            m_client.waitForFinished(5000);
        }
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("Nessun server X (DISPLAY non impostata): la prova completa del client va "
                  "eseguita sotto xvfb-run.");
        m_xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (m_xdotool.isEmpty())
            QSKIP("xdotool non installato: la prova completa del client non può guidarlo.");
        QVERIFY2(QFile::exists(test::cartellaBuild() + QStringLiteral("/qvr-client")),
                 "qvr-client non compilato");
        // One copy per machine: another copy (another test run, a demo) would stop ours at its
        // start. Wait for it to end.
        QElapsedTimer tempo;
        tempo.start();
        while (!copieInEsecuzione().isEmpty() && tempo.elapsed() < 120000)
            QThread::msleep(500);
        if (!copieInEsecuzione().isEmpty())
            QSKIP("Un'altra copia di qvr-client è in esecuzione su questa macchina.");
    }

    void cleanup() { fermaClient(); }

    void giornataTipica() {
        test::AmbienteProva ambiente; // archive with every station in standard numbering
        ambiente.scriviPercorsi(1);
        const QString qvrb = ambiente.file(nomi::FileQVRB);
        const QString totem = ambiente.file(nomi::FileTotem);
        const QByteArray contatorePrima = [&] {
            QFile f(ambiente.file(nomi::FileContatore));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        auto campo = [&](const char* nome) {
            return QStringLiteral("SELECT %1 FROM NumeriCode1").arg(QLatin1String(nome));
        };
        QString ultimo;
#define ATTENDI_RECORD(numero, stato, flag)                                                        \
    do {                                                                                           \
        QVERIFY2(attendiValore(qvrb, campo("NumeroA1"), QStringLiteral(numero), &ultimo),          \
                 qPrintable(QStringLiteral("NumeroA1 %1 invece di %2").arg(ultimo, numero)));      \
        QVERIFY2(attendiValore(qvrb, campo("StatoN1"), QStringLiteral(stato), &ultimo),            \
                 qPrintable(QStringLiteral("StatoN1 %1 invece di %2").arg(ultimo, stato)));        \
        QVERIFY2(attendiValore(qvrb, campo("F1"), QStringLiteral(flag), &ultimo),                  \
                 qPrintable(QStringLiteral("F1 %1 invece di %2").arg(ultimo, flag)));              \
    } while (false)

        QProcessEnvironment ambienteProcesso = QProcessEnvironment::systemEnvironment();
        ambienteProcesso.remove(QStringLiteral("QT_QPA_PLATFORM")); // the tests run offscreen
        ambienteProcesso.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_client.setProcessEnvironment(ambienteProcesso);
        m_client.setWorkingDirectory(ambiente.cartella());
        m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_client.start(test::cartellaBuild() + QStringLiteral("/qvr-client"), {});
        QVERIFY2(m_client.waitForStarted(10000), qPrintable(m_client.errorString()));

        // The launcher: the focus starts on "Utilizza Totem ", the next control is "Avvia Client".
        const QString apertura = attendiFinestra(Didascalia);
        QVERIFY2(!apertura.isEmpty(), qPrintable("launcher not shown " + m_ultimoErrore));
        QVERIFY2(fuoco(apertura), qPrintable(m_ultimoErrore));
        QVERIFY(tasti({QStringLiteral("Tab"), QStringLiteral("space")}));
        QVERIFY2(attendiScomparsa(apertura), "the launcher stays open after Avvia Client");
        const QString console = attendiFinestra(Didascalia, {apertura});
        QVERIFY2(!console.isEmpty(), qPrintable("console not shown " + m_ultimoErrore));
        QCOMPARE(test::interroga(totem, QStringLiteral("SELECT RHDSN FROM Configurazione")),
                 QVariant(QStringLiteral("NO")));

        // Where the controls are: the console's client area is 4125 by 1365 twips below the
        // menu bar, and its controls stand at fixed places in it.
        const QSize d = dimensioni(console);
        QVERIFY2(d.width() > 0 && d.height() > 0, qPrintable(m_ultimoErrore));
        const double scala = d.width() / 4125.0;
        const int menu = d.height() - qRound(1365 * scala);
        QVERIFY2(menu >= 0 && menu < 80,
                 qPrintable(QStringLiteral("console %1x%2").arg(d.width()).arg(d.height())));
        auto inTwips = [&](int x, int y) {
            return QPoint(qRound(x * scala), menu + qRound(y * scala));
        };
        const QPoint avanti = inTwips(120 + 750, 120 + 285);
        const QPoint attendere = inTwips(120 + 750, 735 + 285);
        // Menu "Selezione funzioni": open it, then walk down to the item (separator skipped).
        auto voceMenu = [&](int passi) {
            const int prima = finestreVisibili().size();
            if (!fuoco(console) || !clic(console, QPoint(20, qMax(4, menu / 2))))
                return false;
            QElapsedTimer tempo;
            tempo.start();
            while (finestreVisibili().size() <= prima && tempo.elapsed() < Attesa)
                QThread::msleep(50);
            QStringList elenco;
            for (int i = 0; i < passi; ++i)
                elenco << QStringLiteral("Down");
            elenco << QStringLiteral("Return");
            return tasti(elenco);
        };

        // Two calls and a wait.
        ATTENDI_RECORD("0", "1", "F");
        QVERIFY(clic(console, avanti));
        ATTENDI_RECORD("1", "3", "F");
        // A second deliberate press comes after the console's double-press guard (0.3 s).
        QThread::msleep(400);
        QVERIFY(clic(console, avanti));
        ATTENDI_RECORD("2", "3", "F");
        QVERIFY(clic(console, attendere));
        ATTENDI_RECORD("2", "2", "F");

        // Manual mode: the field takes the focus; 42 and Enter call it; back to automatic.
        QVERIFY(voceMenu(4)); // Modalità manuale
        QThread::msleep(300);
        QVERIFY(tasti({QStringLiteral("4"), QStringLiteral("2"), QStringLiteral("Return")}));
        ATTENDI_RECORD("42", "3", "T");
        QVERIFY(voceMenu(5)); // Modalità automatica

        // Previous number: 41.
        QVERIFY(voceMenu(1));
        ATTENDI_RECORD("41", "3", "F");

        // Set number 025 in the dialog; the next call is 26.
        QVERIFY(voceMenu(3));
        const QString richiesta = attendiFinestra(QStringLiteral("^Richiesta Numero$"));
        QVERIFY2(!richiesta.isEmpty(), qPrintable("number request not shown " + m_ultimoErrore));
        QVERIFY(fuoco(richiesta));
        QVERIFY(tasti({QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5"),
                       QStringLiteral("Return")}));
        ATTENDI_RECORD("25", "1", "F");
        QVERIFY2(attendiScomparsa(richiesta), "the number request stays open");
        QVERIFY(clic(console, avanti));
        ATTENDI_RECORD("26", "3", "F");

        // Reset, then one more call.
        QVERIFY(voceMenu(2));
        ATTENDI_RECORD("0", "1", "F");
        QVERIFY(clic(console, avanti));
        ATTENDI_RECORD("1", "3", "F");

        // Close: the question comes, "&Conferma" resets the number, the program ends.
        QVERIFY(richiediChiusura(console.toULong()));
        const QString domanda = attendiFinestra(QStringLiteral("^ $"));
        QVERIFY2(!domanda.isEmpty(), qPrintable("closing question not shown " + m_ultimoErrore));
        QVERIFY(fuoco(domanda));
        QVERIFY(tasti({QStringLiteral("alt+c")}));
        QVERIFY2(m_client.waitForFinished(Attesa), "the client did not end after the question");
        QCOMPARE(m_client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_client.exitCode(), 0);
        ATTENDI_RECORD("0", "1", "F");
#undef ATTENDI_RECORD

        // Nothing else of the archive changed.
        QCOMPARE(test::interroga(qvrb, QStringLiteral("SELECT NumeroA1 FROM NumeriCode2")),
                 QVariant(0));
        QFile contatore(ambiente.file(nomi::FileContatore));
        QVERIFY(contatore.open(QIODevice::ReadOnly));
        QCOMPARE(contatore.readAll(), contatorePrima);

        // The history: the calls, the wait (repeating 2) and the chosen number, in order;
        // previous, set number and reset record nothing.
        QFile cronologia(ambiente.cartella() + QStringLiteral("/Cronologia-01.txt"));
        QVERIFY2(cronologia.open(QIODevice::ReadOnly), "Cronologia-01.txt missing");
        const QByteArray testo = cronologia.readAll();
        QVERIFY2(testo.endsWith("\r\n"), testo.constData());
        const QList<QByteArray> righe = testo.chopped(2).split('\n');
        const QStringList attesi = {"1", "2", "2", "42", "26", "1"};
        QCOMPARE(righe.size(), attesi.size());
        const QRegularExpression forma(QString::fromLatin1(
            R"re(^"(\d+)","(\d\d)\.(\d\d)","(\d\d/\d\d/\d{4})",(-?\d+)\r?$)re"));
        const QString oggi = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
        const QString ieri =
            QDate::currentDate().addDays(-1).toString(QStringLiteral("dd/MM/yyyy"));
        for (int i = 0; i < righe.size(); ++i) {
            const QString riga = QString::fromLatin1(righe[i]);
            QVERIFY2(i == righe.size() - 1 || riga.endsWith('\r'), qPrintable(riga));
            const auto m = forma.match(riga);
            QVERIFY2(m.hasMatch(), qPrintable(riga));
            QCOMPARE(m.captured(1), attesi[i]);
            QVERIFY(m.captured(2).toInt() < 24 && m.captured(3).toInt() < 60);
            QVERIFY2(m.captured(4) == oggi || m.captured(4) == ieri, qPrintable(riga));
            if (i == 0)
                QCOMPARE(m.captured(5), QStringLiteral("0"));
        }
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
