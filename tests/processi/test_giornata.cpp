// A morning at the office, every part in its own process on one fresh archive: the new-day
// reset by qvr-archivio, the kiosk qvr-totem taking tickets for two services (station 1's own
// sequence P1 and the shared sequence P11) and printing them on the CUPS PDF queue, three desks
// (stations 1 and 2 in standard numbering, station 3 in single numbering), each a whole client
// started from its launcher and driven through its windows (tests/processi/helpers/postazione_giornata),
// and the board qvr-tabellone showing every call throughout.
//
// Afterwards: every ticket issued was called once (the recalls of the morning apart) or is still
// counted as waiting, the board showed every call in order, each history file holds every call
// of its desk, the tickets sent to the printer carry the issued numbers, and every database
// passes its integrity check.
//
// The kiosk is pressed with real keys, so an X server (DISPLAY) and xdotool are needed; without
// them the test is skipped. Without CUPS only the printed tickets' check is skipped.

#include "archive/nomi.h"
#include "supporto.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cups/cups.h>

#include <memory>

using namespace qvr;

namespace {

constexpr int Attesa = 15000; // ms for any program to answer or any change to appear
const QString Anagrafe = QStringLiteral("Anagrafe");
const QString Sportello = QStringLiteral("Sportello unico");
// A PDF queue of this test's own: other programs printing on the machine's test queue meanwhile
// (a demo, the kiosk's own tests) do not mix their jobs with the morning's.
constexpr char Coda[] = "QVR-PDF-GIORNATA";

// One step of the morning. `postazione` 0 is the kiosk: `comando` is the key pressed ("1" the
// service of P1, "2" that of P11) and `numero` the ticket it must issue. Otherwise `comando` goes
// to the desk and `numero`, `stato`, `coda` are what its console must show afterwards (null:
// not looked at); `chiamata` is the number the board must show for the step (0: none),
// `cronologia` the number the history must record (-1: none); `richiamo` marks a call of a
// number that was called before.
struct Passo {
    int postazione;
    const char* comando;
    const char* numero;
    const char* stato = nullptr;
    const char* coda = nullptr;
    int chiamata = 0;
    int cronologia = -1;
    bool richiamo = false;
};

const char* const InCorso = "In corso...";
const char* const Attendere = "Attendere...";
const char* const Assente = "Assente...";

// The kiosk opens at 8, the desks a little later; tickets keep coming during the morning.
const Passo Mattina[] = {
    {0, "1", "1"},
    {0, "1", "2"},
    {0, "2", "1"},
    {0, "1", "3"},
    {0, "2", "2"},
    {0, "1", "4"},
    {0, "2", "3"},
    {1, "avvio", "0", nullptr, "4"},
    {2, "avvio", "0", nullptr, "0"},
    {3, "avvio", "0", nullptr, "3"},
    {1, "avanti", "1", InCorso, nullptr, 1, 1},
    {3, "avanti", "1", InCorso, "2", 1, 1},
    {1, "avanti", "2", InCorso, nullptr, 2, 2},
    {1, "attendere", "2", Attendere, nullptr, 0, 2},
    // Nobody waits for station 2's own sequence: the press calls nobody.
    {2, "avanti", "0", "Presente", "0"}, // the caption the console opened with
    // An appointment without a ticket, called by its number.
    {2, "scelto 40", "40", InCorso, nullptr, 40, 40},
    // The wait is not available in single numbering: a message, the history still records.
    {3, "attendere", "1", InCorso, nullptr, 0, 1},
    {3, "avanti", "2", InCorso, "1", 2, 2},
    {0, "1", "5"},
    {0, "2", "4"},
    {0, "1", "6"},
    {0, "2", "5"},
    {1, "avanti", "3", InCorso, nullptr, 3, 3},
    // Number 2 comes back to the desk: the operator goes back to it, then calls 4 by hand.
    {1, "precedente", "2", InCorso, nullptr, 2, -1, true},
    {1, "scelto 4", "4", InCorso, nullptr, 4, 4},
    {3, "avanti", "3", InCorso, "2", 3, 3},
    {3, "avanti", "4", InCorso, "1", 4, 4},
    {3, "avanti", "5", InCorso, "0", 5, 5},
    // The shared line is empty: the press calls nobody.
    {3, "avanti", "5", InCorso, "0"},
    // Station 2 restarts from 20 and goes back one.
    {2, "imposta 20", "20", Assente},
    {2, "precedente", "19", InCorso, nullptr, 19},
    {1, "avanti", "5", InCorso, nullptr, 5, 5},
    // Noon: station 1 closes resetting its number, station 2 keeping it, station 3 just closes.
    {1, "chiudi-azzera", nullptr},
    {2, "chiudi-mantieni", nullptr},
    {3, "chiudi-mantieni", nullptr},
};

QString cronologiaDi(const QString& cartella, int postazione) {
    return QDir(cartella).filePath(
        QStringLiteral("Cronologia-%1.txt").arg(postazione, 2, 10, QLatin1Char('0')));
}

// A desk: the whole client in its own process and working directory.
struct Scrivania {
    int postazione = 0;
    QString cartella;
    QProcess processo;
    QString errore;

    bool avvia(const QString& programma, const QString& archivio) {
        QDir().mkpath(cartella);
        test::scriviFile(QDir(cartella).filePath(QStringLiteral("percorsi.txt")),
                         "\"" + archivio.toLocal8Bit() + "\"," + QByteArray::number(postazione) +
                             "\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Each desk is its own machine as far as the single-copy check goes.
        env.insert(QStringLiteral("QVR_COPIA_UNICA"), QStringLiteral("qvr-giornata-%1-%2")
                                                          .arg(QCoreApplication::applicationPid())
                                                          .arg(postazione));
        processo.setProcessEnvironment(env);
        processo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        processo.start(programma, {cartella});
        if (!processo.waitForStarted(Attesa)) {
            errore = processo.errorString();
            return false;
        }
        return riga() == QStringLiteral("pronto");
    }
    // The next line the desk writes, or an empty text after Attesa ms.
    QString riga() {
        QElapsedTimer t;
        t.start();
        while (!processo.canReadLine() && t.elapsed() < Attesa &&
               processo.state() == QProcess::Running)
            processo.waitForReadyRead(100);
        if (!processo.canReadLine()) {
            errore = QStringLiteral("nessuna risposta dalla postazione %1").arg(postazione);
            return {};
        }
        return QString::fromUtf8(processo.readLine()).trimmed();
    }
    // The console's texts after a command: Label1(1), Label1(2), Label5.
    QStringList comanda(const QString& comando) {
        processo.write(comando.toUtf8() + '\n');
        processo.waitForBytesWritten(Attesa);
        return testi(riga());
    }
    static QStringList testi(const QString& risposta) {
        QStringList parti = risposta.split(' ');
        if (parti.size() != 4 || parti.first() != QStringLiteral("ok"))
            return {};
        parti.removeFirst();
        for (QString& p : parti)
            p.replace('_', ' ');
        return parti;
    }
    ~Scrivania() {
        if (processo.state() != QProcess::NotRunning) {
            processo.kill();
            processo.waitForFinished(5000);
        }
    }
};

QString esegui(const QString& programma, const QStringList& argomenti, int* stato = nullptr) {
    QProcess p;
    p.start(programma, argomenti);
    if (!p.waitForFinished(60000))
        p.kill();
    if (stato)
        *stato = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

QStringList righeDi(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestGiornata : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_archivio;
    QString m_xdotool;
    QProcess m_totem;
    QProcess m_tabellone;
    QString m_finestraTotem;
    QString m_cartellaPdf; // where cups-pdf writes, empty without CUPS
    QString m_cups;        // why the print check cannot be made
    QDateTime m_inizio;
    int m_ultimoLavoro = 0;              // the last job id on the queue before the kiosk started
    QList<QPair<QString, int>> m_emessi; // service and number of every ticket issued
    bool m_mattinaFatta = false;

    bool xdo(const QStringList& argomenti, QString* uscita = nullptr) {
        QProcess p;
        p.start(m_xdotool, argomenti);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            return false;
        }
        if (uscita)
            *uscita = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString attendiFinestra(const QProcess& processo, const QString& nome) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < Attesa && processo.state() == QProcess::Running) {
            QString uscita;
            if (xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(processo.processId()),
                     QStringLiteral("--name"), nome},
                    &uscita) &&
                !uscita.isEmpty())
                return uscita.split('\n').first();
            QThread::msleep(100);
        }
        return {};
    }

    qint32 contatore(const QString& campo) {
        for (int i = 0; i < 50; ++i) {
            try {
                return test::interroga(m_archivio + QStringLiteral("/Totem.mdb"),
                                       QStringLiteral("SELECT %1 FROM Numerazione").arg(campo))
                    .toInt();
            } catch (const std::exception&) { // busy while the kiosk writes
                QThread::msleep(20);
            }
        }
        return -1;
    }

    // Presses the kiosk's key until it issued one ticket: a press while the number of the
    // previous ticket is still on screen issues nothing, so it is made again.
    bool biglietto(const QString& tasto, qint32 atteso, QString* errore) {
        const QString campo =
            tasto == QStringLiteral("1") ? QStringLiteral("P1") : QStringLiteral("P11");
        const qint32 prima = contatore(campo);
        if (prima != atteso - 1) {
            *errore = QStringLiteral("%1 vale %2 prima del biglietto %3")
                          .arg(campo)
                          .arg(prima)
                          .arg(atteso);
            return false;
        }
        QElapsedTimer t;
        t.start();
        int pressioni = 0;
        while (t.elapsed() < Attesa) {
            // Raised by the window manager when there is one; the keyboard's focus in any case.
            xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_finestraTotem});
            xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_finestraTotem});
            xdo({QStringLiteral("key"), tasto});
            ++pressioni;
            QElapsedTimer pressione;
            pressione.start();
            while (pressione.elapsed() < 700) {
                const qint32 ora = contatore(campo);
                if (ora != prima) {
                    m_emessi.append({tasto == QStringLiteral("1") ? Anagrafe : Sportello, ora});
                    *errore =
                        QStringLiteral("%1 vale %2 invece di %3").arg(campo).arg(ora).arg(atteso);
                    return ora == atteso;
                }
                QThread::msleep(50);
            }
        }
        *errore = QStringLiteral("nessun biglietto dopo %1 pressioni").arg(pressioni);
        return false;
    }

    bool attendiRighe(const QString& file, int quante) {
        QElapsedTimer t;
        t.start();
        while (righeDi(file).size() < quante && t.elapsed() < Attesa)
            QThread::msleep(30);
        return righeDi(file).size() >= quante;
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("Nessun server X (DISPLAY non impostata): la giornata va eseguita sotto "
                  "xvfb-run.");
        m_xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (m_xdotool.isEmpty())
            QSKIP("xdotool non installato: il totem non può essere premuto.");
        QVERIFY(m_dir.isValid());
        // The folder is the last line of the script's output; lpadmin's warnings go to stderr.
        QProcess cups;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QVR_CODA_PDF"), QString::fromLatin1(Coda));
        cups.setProcessEnvironment(env);
        cups.start(QStringLiteral("bash"), {QStringLiteral(QVR_CUPS_SCRIPT)});
        const bool finito = cups.waitForFinished(60000);
        const QString uscita = QString::fromUtf8(cups.readAllStandardOutput()).trimmed();
        if (finito && cups.exitStatus() == QProcess::NormalExit && cups.exitCode() == 0)
            m_cartellaPdf = uscita.split('\n').last().trimmed();
        else
            m_cups = QStringLiteral("CUPS non disponibile: ") +
                     QString::fromUtf8(cups.readAllStandardError()).trimmed();
    }

    void cleanupTestCase() {
        for (QProcess* p : {&m_totem, &m_tabellone}) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    void mattina() {
        const QString bin = test::cartellaBuild();
        m_archivio = m_dir.filePath(QStringLiteral("archivio"));
        OpzioniArchivio opzioni;
        opzioni.modi[2] = QStringLiteral("SG");
        opzioni.totem = true;
        creaArchivio(m_archivio, opzioni);
        const QString totemDb = m_archivio + QStringLiteral("/Totem.mdb");
        const QString qvrb = m_archivio + QStringLiteral("/QVRB.mdb");
        const QString qvra = m_archivio + QStringLiteral("/QVRA.mdb");
        const QString contatoreFile = m_archivio + QStringLiteral("/Nr4All.txt");

        // Yesterday's evening as the archive keeps it, then the morning reset.
        test::esegui(totemDb, QStringLiteral("UPDATE Numerazione SET P1=37, P2=8, P11=12, P11Q=3"));
        test::esegui(qvrb, QStringLiteral("UPDATE NumeriCode1 SET NumeroA1=37, StatoN1=3"));
        test::esegui(qvrb, QStringLiteral("UPDATE NumeriCode2 SET NumeroA1=8, StatoN1=2"));
        test::scriviFile(contatoreFile, "12,1,3\r\n");
        int stato = -1;
        const QString reset = esegui(bin + QStringLiteral("/qvr-archivio"),
                                     {QStringLiteral("nuova-giornata"), m_archivio}, &stato);
        QVERIFY2(stato == 0, qPrintable(reset));
        for (int n = 1; n <= 11; ++n)
            QCOMPARE(contatore(QStringLiteral("P%1").arg(n)), 0);
        QCOMPARE(contatore(QStringLiteral("P11Q")), 0);
        QCOMPARE(test::contenuto(contatoreFile).split(',').first().trimmed(), QByteArray("0"));
        for (int n = 1; n <= 10; ++n) {
            const QString sql =
                QStringLiteral("SELECT NumeroA1 || '/' || StatoN1 FROM NumeriCode%1");
            QCOMPARE(test::interroga(qvrb, sql.arg(n)).toString(), QStringLiteral("0/1"));
        }

        // The kiosk's and the board's settings live in a configuration folder of the test's.
        const QString config = m_dir.filePath(QStringLiteral("config"));
        {
            QSettings ini(config + QStringLiteral("/qvr/qvr-totem.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("generale/cartella"), m_archivio);
            ini.setValue(QStringLiteral("generale/ufficio"), QStringLiteral("Comune di Prova"));
            ini.setValue(QStringLiteral("generale/ritorno"), 1);
            ini.setValue(QStringLiteral("stampa/modo"), QStringLiteral("cups"));
            ini.setValue(QStringLiteral("stampa/stampante"), QString::fromLatin1(Coda));
            ini.setValue(QStringLiteral("stampa/carta"), 58);
            ini.beginWriteArray(QStringLiteral("servizi"));
            ini.setArrayIndex(0);
            ini.setValue(QStringLiteral("etichetta"), Anagrafe);
            ini.setValue(QStringLiteral("sequenza"), QStringLiteral("P1"));
            ini.setArrayIndex(1);
            ini.setValue(QStringLiteral("etichetta"), Sportello);
            ini.setValue(QStringLiteral("sequenza"), QStringLiteral("P11"));
            ini.endArray();
            // The kiosk serves only with a PIN set (here 1234, as in the demo).
            ini.setValue(QStringLiteral("pin/sale"),
                         QStringLiteral("5f1e0c9a3b7d42e8a6c1f0b9d3e7a254"));
            ini.setValue(
                QStringLiteral("pin/impronta"),
                QStringLiteral("6af3381737057c02c07eae14184653368f6bfad346d859af5b56681e2bcfb6b7"));
            ini.setValue(QStringLiteral("pin/iterazioni"), 100000);
            ini.sync();
            QCOMPARE(ini.status(), QSettings::NoError);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        const QString registro = m_dir.filePath(QStringLiteral("registro.txt"));
        m_tabellone.setProcessEnvironment(env);
        m_tabellone.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_tabellone.start(bin + QStringLiteral("/qvr-tabellone"),
                          {QStringLiteral("--finestra"), QStringLiteral("--archivio"), m_archivio,
                           QStringLiteral("--registro"), registro});
        QVERIFY2(m_tabellone.waitForStarted(Attesa), qPrintable(m_tabellone.errorString()));
        QVERIFY2(!attendiFinestra(m_tabellone, QStringLiteral("^QVR - Tabellone$")).isEmpty(),
                 "il tabellone non si è aperto");
        m_totem.setProcessEnvironment(env);
        m_totem.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_inizio = QDateTime::currentDateTime().addSecs(-1);
        if (m_cups.isEmpty()) {
            cups_job_t* elenco = nullptr;
            const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &elenco, Coda, 0, CUPS_WHICHJOBS_ALL);
            for (int i = 0; i < n; ++i)
                m_ultimoLavoro = qMax(m_ultimoLavoro, elenco[i].id);
            cupsFreeJobs(n, elenco);
        }
        m_totem.start(bin + QStringLiteral("/qvr-totem"), {QStringLiteral("--finestra")});
        QVERIFY2(m_totem.waitForStarted(Attesa), qPrintable(m_totem.errorString()));
        m_finestraTotem = attendiFinestra(m_totem, QStringLiteral("^QVR Totem$"));
        QVERIFY2(!m_finestraTotem.isEmpty(), "il totem non si è aperto");

        // The morning, step by step; each call is on the board before the next step.
        Scrivania scrivanie[3];
        QList<QPair<int, int>> chiamateAttese;
        QMap<int, QList<int>> cronologieAttese;
        QMap<int, QList<int>> richiami; // per station, numbers called again
        QMap<int, QString> ultimoNumero;
        for (const Passo& passo : Mattina) {
            const QString comando = QString::fromLatin1(passo.comando);
            const QString dove =
                QStringLiteral("postazione %1, %2").arg(passo.postazione).arg(comando);
            if (passo.postazione == 0) {
                QString errore;
                QVERIFY2(biglietto(comando, QByteArray(passo.numero).toInt(), &errore),
                         qPrintable(dove + QStringLiteral(": ") + errore));
                continue;
            }
            Scrivania& s = scrivanie[passo.postazione - 1];
            if (comando.startsWith(QStringLiteral("chiudi"))) {
                s.processo.write(comando.toUtf8() + '\n');
                QVERIFY2(s.processo.waitForFinished(Attesa), qPrintable(dove));
                QCOMPARE(s.processo.exitStatus(), QProcess::NormalExit);
                QCOMPARE(s.processo.exitCode(), 0);
                continue;
            }
            QStringList testi;
            if (comando == QStringLiteral("avvio")) {
                s.postazione = passo.postazione;
                s.cartella = m_dir.filePath(QStringLiteral("scrivania%1").arg(passo.postazione));
                QVERIFY2(
                    s.avvia(test::cartellaProgrammiTest() + QStringLiteral("/postazione_giornata"),
                            m_archivio),
                    qPrintable(dove + QStringLiteral(": ") + s.errore));
                testi = Scrivania::testi(s.riga());
            } else {
                testi = s.comanda(comando);
            }
            QVERIFY2(testi.size() == 3, qPrintable(dove + QStringLiteral(": ") + s.errore));
            const QString visto = testi.join(QStringLiteral(" | "));
            QVERIFY2(testi[0] == QLatin1String(passo.numero), qPrintable(dove + ": " + visto));
            QVERIFY2(!passo.stato || testi[1] == QLatin1String(passo.stato),
                     qPrintable(dove + ": " + visto));
            QVERIFY2(!passo.coda || testi[2] == QLatin1String(passo.coda),
                     qPrintable(dove + ": " + visto));
            ultimoNumero[passo.postazione] = testi[0];
            if (passo.chiamata) {
                chiamateAttese.append({passo.postazione, passo.chiamata});
                if (passo.richiamo)
                    richiami[passo.postazione].append(passo.chiamata);
                QVERIFY2(attendiRighe(registro, int(chiamateAttese.size())),
                         qPrintable(dove + QStringLiteral(": non sul tabellone")));
            }
            if (passo.cronologia >= 0)
                cronologieAttese[passo.postazione].append(passo.cronologia);
        }
        QCOMPARE(m_tabellone.state(), QProcess::Running);
        QCOMPARE(m_totem.state(), QProcess::Running);

        // The board showed every call once, in order (nothing came after the last call).
        QTest::qWait(300);
        QStringList attese;
        for (const auto& c : chiamateAttese)
            attese << QStringLiteral("%1 %2").arg(c.first).arg(c.second);
        QCOMPARE(righeDi(registro), attese);

        // The archive at noon: station 1 reset on closing, station 2 kept its number, station 3
        // left its last call; the kiosk's counters and the shared sequence.
        QCOMPARE(test::interroga(qvrb, QStringLiteral("SELECT NumeroA1 || '/' || StatoN1 || '/' "
                                                      "|| F1 FROM NumeriCode1"))
                     .toString(),
                 QStringLiteral("0/1/F"));
        QCOMPARE(test::interroga(qvrb, QStringLiteral("SELECT NumeroA1 || '/' || StatoN1 || '/' "
                                                      "|| F1 FROM NumeriCode2"))
                     .toString(),
                 QStringLiteral("19/3/F"));
        QCOMPARE(test::interroga(qvra, QStringLiteral("SELECT NUMERO || '/' || Stato FROM "
                                                      "NumerazioneSingle3"))
                     .toString(),
                 QStringLiteral("5/3"));
        const qint32 p1 = contatore(QStringLiteral("P1"));
        const qint32 p11 = contatore(QStringLiteral("P11"));
        const qint32 ultimoSingolo =
            test::contenuto(contatoreFile).split(',').first().trimmed().toInt();
        QCOMPARE(p1, 6);
        QCOMPARE(p11, 5);
        QCOMPARE(contatore(QStringLiteral("P2")), 0);
        QCOMPARE(contatore(QStringLiteral("P11Q")), p11 - ultimoSingolo);

        // Every ticket issued was called exactly once (recalls apart) or is still counted as
        // waiting: for station 1 what follows its last number, for the shared sequence what
        // follows the last number drawn.
        struct Sequenza {
            int postazione;
            qint32 emessi;
            qint32 ultimo;
        };
        const Sequenza sequenze[] = {{1, p1, ultimoNumero[1].toInt()}, {3, p11, ultimoSingolo}};
        for (const Sequenza& q : sequenze) {
            QMap<int, int> volte;
            for (const auto& c : chiamateAttese)
                if (c.first == q.postazione)
                    ++volte[c.second];
            for (int n : richiami.value(q.postazione))
                --volte[n];
            for (qint32 n = 1; n <= q.emessi; ++n) {
                const bool inAttesa = n > q.ultimo;
                QVERIFY2(volte.value(n) == (inAttesa ? 0 : 1),
                         qPrintable(QStringLiteral("postazione %1, biglietto %2 chiamato %3 volte")
                                        .arg(q.postazione)
                                        .arg(n)
                                        .arg(volte.value(n))));
            }
            for (auto it = volte.cbegin(); it != volte.cend(); ++it)
                QVERIFY2(it.key() >= 1 && it.key() <= q.emessi,
                         qPrintable(QStringLiteral("numero %1 mai emesso").arg(it.key())));
        }
        QCOMPARE(p1 - ultimoNumero[1].toInt(), 1); // ticket 6 is still waiting at station 1

        // Each history file holds every call of its station, in order, in its line format.
        const QRegularExpression forma(
            QString::fromLatin1(R"re(^"(\d+)","(\d\d)\.(\d\d)","(\d\d/\d\d/\d{4})",(-?\d+)$)re"));
        for (int n = 1; n <= 3; ++n) {
            const QByteArray testo = test::contenuto(cronologiaDi(scrivanie[n - 1].cartella, n));
            QVERIFY2(testo.endsWith("\r\n"), testo.constData());
            const QList<QByteArray> righe = testo.chopped(2).split('\n');
            QList<int> numeri;
            for (int i = 0; i < righe.size(); ++i) {
                const QString riga = QString::fromLatin1(righe[i]).remove('\r');
                const auto m = forma.match(riga);
                QVERIFY2(m.hasMatch(), qPrintable(riga));
                numeri << m.captured(1).toInt();
                if (i == 0)
                    QCOMPARE(m.captured(5), QStringLiteral("0"));
            }
            QCOMPARE(numeri, cronologieAttese.value(n));
        }

        // The board's and the kiosk's ending leave the archive whole.
        cleanupTestCase();
        const QStringList basi = {QStringLiteral("QVR.mdb"), QStringLiteral("QVRA.mdb"),
                                  QStringLiteral("QVRB.mdb"), QStringLiteral("Totem.mdb"),
                                  QStringLiteral("Agenda.mdb")};
        for (const QString& db : basi)
            QCOMPARE(
                test::interroga(m_archivio + '/' + db, QStringLiteral("PRAGMA integrity_check"))
                    .toString(),
                QStringLiteral("ok"));
        m_mattinaFatta = true;
    }

    // The tickets printed: one CUPS job per ticket issued, titled with its number; the PDF the
    // kiosk sent carries the number and the service; cups-pdf made a page of the roll's width.
    void bigliettiStampati() {
        if (!m_mattinaFatta)
            QSKIP("La mattina non è stata completata.");
        if (!m_cups.isEmpty())
            QSKIP(qPrintable(m_cups));
        QList<int> lavori;
        QMap<int, int> numeroDelLavoro;
        QStringList descrizione;
        int completati = 0;
        QElapsedTimer t;
        t.start();
        forever {
            lavori.clear();
            numeroDelLavoro.clear();
            descrizione.clear();
            completati = 0;
            bool finiti = true;
            cups_job_t* elenco = nullptr;
            const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &elenco, Coda, 0, CUPS_WHICHJOBS_ALL);
            for (int i = 0; i < n; ++i) {
                if (elenco[i].id <= m_ultimoLavoro)
                    continue;
                const auto m = QRegularExpression(QStringLiteral("^Biglietto (\\d+)$"))
                                   .match(QString::fromUtf8(elenco[i].title));
                if (!m.hasMatch())
                    continue;
                lavori << elenco[i].id;
                descrizione << QStringLiteral("%1:%2:%3")
                                   .arg(elenco[i].id)
                                   .arg(QString::fromUtf8(elenco[i].title))
                                   .arg(int(elenco[i].state));
                numeroDelLavoro[elenco[i].id] = m.captured(1).toInt();
                // Stopped is not an end: a queue just added may hold its first jobs a moment.
                finiti = finiti && elenco[i].state >= IPP_JSTATE_CANCELED;
                completati += elenco[i].state == IPP_JSTATE_COMPLETED ? 1 : 0;
            }
            cupsFreeJobs(n, elenco);
            if ((finiti && lavori.size() >= m_emessi.size()) || t.elapsed() > 60000)
                break;
            QThread::msleep(200);
        }
        QStringList emessi;
        for (const auto& e : m_emessi)
            emessi << QStringLiteral("%1 %2").arg(e.first).arg(e.second);
        QVERIFY2(lavori.size() == m_emessi.size(),
                 qPrintable(descrizione.join(' ') + QStringLiteral(" / ") + emessi.join(", ")));
        QVERIFY2(completati == lavori.size(), qPrintable(descrizione.join(' ')));

        // The documents the kiosk sent, as CUPS keeps them in its spool.
        QList<QPair<QString, int>> stampati;
        QString nonLetti;
        for (int id : lavori) {
            const QString documento =
                QStringLiteral("/var/spool/cups/d%1-001").arg(id, 5, 10, QLatin1Char('0'));
            if (!QFileInfo(documento).isReadable()) {
                nonLetti = documento;
                break;
            }
            const QStringList righe =
                esegui(QStringLiteral("pdftotext"), {documento, QStringLiteral("-")})
                    .split('\n', Qt::SkipEmptyParts);
            const int numero = numeroDelLavoro[id];
            const qsizetype i = righe.indexOf(QString::number(numero));
            QVERIFY2(i >= 0 && i + 1 < righe.size(), qPrintable(righe.join('|')));
            stampati.append({righe[i + 1].trimmed(), numero});
        }
        if (nonLetti.isEmpty()) {
            auto ordinati = [](QList<QPair<QString, int>> l) {
                std::sort(l.begin(), l.end());
                return l;
            };
            QCOMPARE(ordinati(stampati), ordinati(m_emessi));
        } else {
            qInfo("Documenti dei lavori non leggibili (%s): controllati i titoli",
                  qPrintable(nonLetti));
            QList<int> numeri, attesi;
            for (int id : lavori)
                numeri << numeroDelLavoro[id];
            for (const auto& e : m_emessi)
                attesi << e.second;
            std::sort(numeri.begin(), numeri.end());
            std::sort(attesi.begin(), attesi.end());
            QCOMPARE(numeri, attesi);
        }

        // cups-pdf's output (named after the title, so two tickets with one number share a
        // file): one page 58 mm wide for every number printed.
        QSet<int> numeri;
        for (const auto& e : m_emessi)
            numeri.insert(e.second);
        QMap<int, QString> file;
        t.restart();
        while (file.size() < numeri.size() && t.elapsed() < 30000) {
            for (const QFileInfo& f :
                 QDir(m_cartellaPdf)
                     .entryInfoList({QStringLiteral("Biglietto_*.pdf")}, QDir::Files)) {
                const auto m =
                    QRegularExpression(QStringLiteral("^Biglietto_(\\d+)(\\D.*)?\\.pdf$"))
                        .match(f.fileName());
                if (!m.hasMatch() || f.lastModified() < m_inizio ||
                    !numeri.contains(m.captured(1).toInt()) || file.contains(m.captured(1).toInt()))
                    continue;
                if (esegui(QStringLiteral("pdfinfo"), {f.filePath()})
                        .contains(QStringLiteral("Page size")))
                    file[m.captured(1).toInt()] = f.filePath();
            }
            if (file.size() < numeri.size())
                QThread::msleep(200);
        }
        QCOMPARE(file.size(), numeri.size());
        for (const QString& pdf : file) {
            const QString info = esegui(QStringLiteral("pdfinfo"), {pdf});
            const auto m =
                QRegularExpression(QStringLiteral(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)"))
                    .match(info);
            QVERIFY2(m.hasMatch(), qPrintable(info));
            QVERIFY2(qAbs(m.captured(1).toDouble() * 25.4 / 72.0 - 58) < 1.0, qPrintable(info));
        }
        for (const QString& pdf : file)
            QFile::remove(pdf);
    }
};

QTEST_GUILESS_MAIN(TestGiornata)
#include "test_giornata.moc"
