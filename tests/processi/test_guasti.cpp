// Stations killed with SIGKILL at random moments while they call: one in single numbering with
// the kiosk in use (draw from Nr4All.txt, record in QVRA.mdb, P11Q in Totem.mdb), one in
// standard numbering (read and write of the display record in QVRB.mdb), both writing their
// history files. After every kill: each database passes SQLite's integrity check, the counter
// file reads as a number not lower than the last number the killed station reported, the display
// record holds at least the last number reported, every history line is whole, and the next
// call works. A transaction killed half way, with its changes already in the database file,
// is undone by the next opener from the journal it left.

#include "archive/contatore.h"
#include "archive/cursore.h"
#include "console/display.h"
#include "console/operazioni.h"
#include "supporto.h"

#include "app/globali.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

using namespace qvr;
using namespace qvr::test;

namespace {

const QStringList Database = {QStringLiteral("QVR.mdb"), QStringLiteral("QVRA.mdb"),
                              QStringLiteral("QVRB.mdb"), QStringLiteral("Totem.mdb")};

QString programma() {
    return cartellaProgrammiTest() + QStringLiteral("/stazione_guasti");
}

// A working folder of its own for a station: percorsi.txt naming the shared archive.
QString cartellaStazione(const AmbienteProva& amb, int stazione) {
    const QString cartella = amb.cartella() + QStringLiteral("/stazione%1").arg(stazione);
    QDir().mkpath(cartella);
    QFile f(cartella + QStringLiteral("/percorsi.txt"));
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("percorsi.txt non scritto");
    f.write(QStringLiteral("\"%1\",%2\r\n").arg(amb.archivio()).arg(stazione).toUtf8());
    return cartella;
}

// The last whole number line a station wrote before it died (0 when none).
qint64 ultimoNumero(const QByteArray& uscita) {
    const qsizetype fine = uscita.lastIndexOf('\n');
    if (fine < 0)
        return 0;
    const qsizetype inizio = uscita.lastIndexOf('\n', fine - 1) + 1;
    return uscita.mid(inizio, fine - inizio).toLongLong();
}

QByteArray leggi(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every line of a history file is whole: the four fields, CR LF at the end, nothing after the
// last line break. Returns the number of lines, or -1 with the fault in `difetto`.
int righeIntere(const QByteArray& dati, QString* difetto) {
    static const QRegularExpression forma(
        QStringLiteral(R"(^"\d+","\d\d\.\d\d","\d\d/\d\d/\d{4}",-?\d+\r$)"));
    if (dati.isEmpty())
        return 0;
    if (!dati.endsWith("\r\n")) {
        *difetto = QStringLiteral("ultima riga troncata: ") + QString::fromLatin1(dati.right(40));
        return -1;
    }
    const QList<QByteArray> righe = dati.left(dati.size() - 1).split('\n');
    for (const QByteArray& riga : righe) {
        if (!forma.match(QString::fromLatin1(riga)).hasMatch()) {
            *difetto = QStringLiteral("riga non intera: ") + QString::fromLatin1(riga);
            return -1;
        }
    }
    return static_cast<int>(righe.size());
}

} // namespace

class TestGuasti : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo::exists(programma()), "stazione_guasti mancante"); }

    void stazioniUcciseDuranteLeChiamate() {
        OpzioniArchivio opzioni;
        opzioni.modi[2] = QStringLiteral("SG");
        opzioni.modi[3] = QStringLiteral("ST");
        opzioni.totem = true;
        AmbienteProva amb(opzioni);
        // The kiosk has issued plenty: somebody is always waiting in the shared sequence.
        esegui(amb.file("Totem.mdb"), "update Numerazione set P11=100000000, P11Q=100000000");
        const QString singola = cartellaStazione(amb, 3);
        const QString standard = cartellaStazione(amb, 4);
        const QString storiaSingola = singola + QStringLiteral("/Cronologia-03.txt");
        const QString storiaStandard = standard + QStringLiteral("/Cronologia-04.txt");

        qint64 maxSingola = 0;
        qint64 maxStandard = 0;
        int giornaliCaldi = 0;
        int uccisioni = 0;
        QElapsedTimer tempo;
        tempo.start();
        auto* caso = QRandomGenerator::global();
        // As many rounds as fit in about 25 seconds, at least 12.
        for (int giro = 0; giro < 12 || (tempo.elapsed() < 25000 && giro < 60); ++giro) {
            QProcess a, b;
            a.start(programma(), {QStringLiteral("singola"), singola, QStringLiteral("0")});
            b.start(programma(), {QStringLiteral("standard"), standard, QStringLiteral("0")});
            QVERIFY(a.waitForStarted());
            QVERIFY(b.waitForStarted());
            // Let them get going (the program start takes a while), then kill each at its own
            // random moment.
            QVERIFY(a.waitForReadyRead(10000));
            QVERIFY(b.waitForReadyRead(10000));
            QThread::msleep(caso->bounded(0, 120));
            a.kill();
            QThread::msleep(caso->bounded(0, 40));
            b.kill();
            QVERIFY(a.waitForFinished(10000));
            QVERIFY(b.waitForFinished(10000));
            const QByteArray erroriA = a.readAllStandardError();
            const QByteArray erroriB = b.readAllStandardError();
            QVERIFY2(erroriA.isEmpty(), erroriA.constData());
            QVERIFY2(erroriB.isEmpty(), erroriB.constData());
            QCOMPARE(a.exitStatus(), QProcess::CrashExit);
            QCOMPARE(b.exitStatus(), QProcess::CrashExit);
            uccisioni += 2;
            const qint64 ultimoA = ultimoNumero(a.readAllStandardOutput());
            const qint64 ultimoB = ultimoNumero(b.readAllStandardOutput());
            QVERIFY(ultimoA > maxSingola);
            QVERIFY(ultimoB > maxStandard);
            maxSingola = ultimoA;
            maxStandard = ultimoB;

            for (const QString& db : Database)
                if (QFileInfo(amb.file(db) + QStringLiteral("-journal")).size() > 0)
                    ++giornaliCaldi;

            // The counter file: a number, never below the last one drawn.
            const qint32 contatore = contatore::leggiLong(amb.file("Nr4All.txt"));
            QVERIFY2(contatore >= ultimoA,
                     qPrintable(QStringLiteral("Nr4All %1 < %2").arg(contatore).arg(ultimoA)));
            QVERIFY(contatore <= ultimoA + 1); // at most the draw that was under way
            maxSingola = contatore;
            // Every database is sound (the first open replays a journal left by the kill).
            for (const QString& db : Database)
                QCOMPARE(interroga(amb.file(db), "pragma integrity_check").toString(),
                         QStringLiteral("ok"));
            const qint64 display =
                interroga(amb.file("QVRB.mdb"), "select NumeroA1 from NumeriCode4").toLongLong();
            QVERIFY(display >= ultimoB && display <= ultimoB + 1);
            maxStandard = display;
            // The single-numbering record holds a number drawn in this or the previous call.
            const qint64 record =
                interroga(amb.file("QVRA.mdb"), "select NUMERO from NumerazioneSingle3")
                    .toLongLong();
            QVERIFY(record >= ultimoA && record <= contatore);

            QString difetto;
            QVERIFY2(righeIntere(leggi(storiaSingola), &difetto) >= 0, qPrintable(difetto));
            QVERIFY2(righeIntere(leggi(storiaStandard), &difetto) >= 0, qPrintable(difetto));
        }
        qInfo("%d processi uccisi in %lld ms, %d giornali rimasti dopo un'uccisione", uccisioni,
              tempo.elapsed(), giornaliCaldi);

        // The next calls work and go on from where the archive stands.
        const QList<std::pair<QString, QString>> stazioni = {
            {QStringLiteral("singola"), singola}, {QStringLiteral("standard"), standard}};
        for (const auto& [modo, cartella] : stazioni) {
            QProcess p;
            p.start(programma(), {modo, cartella, QStringLiteral("3")});
            QVERIFY(p.waitForFinished(20000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
            const QList<QByteArray> numeri = p.readAllStandardOutput().trimmed().split('\n');
            QCOMPARE(numeri.size(), 3);
            const qint64 atteso =
                (modo == QStringLiteral("singola") ? maxSingola : maxStandard) + 1;
            QCOMPARE(numeri.first().toLongLong(), atteso);
        }
        QString difetto;
        QVERIFY2(righeIntere(leggi(storiaSingola), &difetto) > 0, qPrintable(difetto));
        QVERIFY2(righeIntere(leggi(storiaStandard), &difetto) > 0, qPrintable(difetto));
    }

    void numeriEstrattiMaiPersiSottoCarico() {
        // Three stations of the shared sequence killed again and again while they draw: every
        // number drawn was published and reported, but for at most the one in flight at a kill.
        OpzioniArchivio opzioni;
        for (int n : {1, 2, 3})
            opzioni.modi[n - 1] = QStringLiteral("SG");
        opzioni.totem = true;
        AmbienteProva amb(opzioni);
        esegui(amb.file("Totem.mdb"), "update Numerazione set P11=100000000, P11Q=100000000");
        QVector<QString> cartelle;
        for (int n : {1, 2, 3})
            cartelle << cartellaStazione(amb, n);
        QSet<qint64> riportati;
        int doppi = 0;
        int uccisioni = 0;
        auto* caso = QRandomGenerator::global();
        for (int giro = 0; giro < 8; ++giro) {
            std::vector<std::unique_ptr<QProcess>> p;
            for (const QString& cartella : cartelle) {
                p.push_back(std::make_unique<QProcess>());
                p.back()->start(programma(), {QStringLiteral("singola"), cartella, "0"});
            }
            for (auto& x : p)
                QVERIFY(x->waitForReadyRead(10000));
            for (auto& x : p) {
                QThread::msleep(caso->bounded(0, 80));
                x->kill();
            }
            for (auto& x : p) {
                QVERIFY(x->waitForFinished(10000));
                const QByteArray errori = x->readAllStandardError();
                QVERIFY2(errori.isEmpty(), errori.constData());
                for (const QByteArray& riga : x->readAllStandardOutput().split('\n'))
                    if (!riga.isEmpty()) {
                        const qint64 n = riga.toLongLong();
                        if (riportati.contains(n))
                            ++doppi;
                        riportati.insert(n);
                    }
                ++uccisioni;
            }
        }
        const qint32 estratti = contatore::leggiLong(amb.file("Nr4All.txt"));
        const qint64 persi = estratti - riportati.size();
        qInfo("estratti %d, riportati %lld, uccisioni %d", estratti, qint64(riportati.size()),
              uccisioni);
        QCOMPARE(doppi, 0);
        QVERIFY2(persi >= 0 && persi <= uccisioni, qPrintable(QString::number(persi)));
    }

    void giornaleCaldoRipristinatoDalProssimoAccesso() {
        // Another program killed half way through a write whose pages already reached the
        // database file: the file holds a change that was never committed, and the journal holds
        // what was there before.
        AmbienteProva amb;
        esegui(amb.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=41, StatoN1=1");
        const qint64 dimensione = QFileInfo(amb.file("QVRB.mdb")).size();
        QProcess p;
        p.start(programma(),
                {QStringLiteral("a_meta"), amb.file("QVRB.mdb"), QStringLiteral("NumeriCode3")});
        QVERIFY(p.waitForReadyRead(10000));
        QCOMPARE(p.readAllStandardOutput(), QByteArray("pronto\n"));
        p.kill();
        QVERIFY(p.waitForFinished(10000));
        QVERIFY2(QFileInfo(amb.file("QVRB.mdb")).size() > dimensione,
                 "le pagine non sono arrivate al file");
        QVERIFY(QFileInfo(amb.file("QVRB.mdb-journal")).size() > 0);

        // The next call of the station: it reads 41, not the uncommitted -777, and publishes 42.
        NumeroPostazione = 3;
        PercorsoArchivi = amb.archivio();
        const auto esito = operazioni::ChiamaProssimo(false, false);
        QCOMPARE(esito.numeroLetto, QStringLiteral("41"));
        QCOMPARE(NumeroChiamato, 42);
        QCOMPARE(interroga(amb.file("QVRB.mdb"), "pragma integrity_check").toString(),
                 QStringLiteral("ok"));
        QCOMPARE(interroga(amb.file("QVRB.mdb"), "select NumeroA1 from NumeriCode3").toInt(), 42);
        QCOMPARE(interroga(amb.file("QVRB.mdb"),
                           "select count(*) from sqlite_master where name='zavorra'")
                     .toInt(),
                 0);
        QVERIFY(!QFileInfo(amb.file("QVRB.mdb-journal")).exists() ||
                QFileInfo(amb.file("QVRB.mdb-journal")).size() == 0);
        QCOMPARE(QFileInfo(amb.file("QVRB.mdb")).size(), dimensione);
    }
};

QTEST_GUILESS_MAIN(TestGuasti)
#include "test_guasti.moc"
