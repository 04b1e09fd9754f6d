// The station settings file percorsi.txt: its line as written, the forms the reader accepts, the
// failures by number, the damaged files of the corpus and the one-step replacement of the file.

#include "supporto.h"

#include "app/globali.h"
#include "archive/errori.h"
#include "launcher/percorsi.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <unistd.h>

using namespace qvr;
using qvr::test::contenuto;
using qvr::test::numeroErrore;
using qvr::test::scriviFile;

namespace {

// Changes the working directory for the life of the object.
class CartellaDiLavoro {
public:
    explicit CartellaDiLavoro(const QString& cartella) : m_vecchia(QDir::currentPath()) {
        QDir::setCurrent(cartella);
    }
    ~CartellaDiLavoro() { QDir::setCurrent(m_vecchia); }

private:
    QString m_vecchia;
};

} // namespace

class TestPercorsi : public QObject {
    Q_OBJECT

private slots:
    void init() { azzeraValoriGlobali(); }
    void cleanup() { azzeraValoriGlobali(); }

    void scritturaERiletturaDellaRiga_data();
    void scritturaERiletturaDellaRiga();
    void formeAccettateInLettura_data();
    void formeAccettateInLettura();
    void corpusDiFileDanneggiati();
    void rigaDaUnMegabyte();
    void fileECartelleMancanti();
    void altraCartellaDiLavoroAltroFile();
    void sostituzioneInUnSoloPasso();
    void sostituzioneImpossibileLasciaIlVecchioFile();
    void processoUccisoDuranteIlSalvataggio();
};

void TestPercorsi::scritturaERiletturaDellaRiga_data() {
    QTest::addColumn<QString>("cartella");
    QTest::addColumn<int>("postazione");
    QTest::addColumn<QByteArray>("atteso");
    QTest::addColumn<QString>("postazioneLetta");

    QTest::newRow("postazione 10")
        << "\\\\server\\qvr" << 10 << QByteArray("\"\\\\server\\qvr\",10\r\n") << "10";
    QTest::newRow("postazione 1") << "C:\\QVR" << 1 << QByteArray("\"C:\\QVR\",1\r\n") << "1";
    QTest::newRow("nessuna postazione") << "C:\\QVR" << 0 << QByteArray("\"C:\\QVR\",0\r\n") << "0";
    QTest::newRow("virgola nella cartella")
        << "\\\\server\\archivi,vecchi" << 3 << QByteArray("\"\\\\server\\archivi,vecchi\",3\r\n")
        << "3";
    QTest::newRow("radice di un disco") << "D:\\" << 7 << QByteArray("\"D:\\\",7\r\n") << "7";
    QTest::newRow("cartella vuota") << "" << 2 << QByteArray("\"\",2\r\n") << "2";
    QTest::newRow("lettere accentate")
        << "/srv/qvr/Città" << 4 << QByteArray("\"/srv/qvr/Citt\xc3\xa0\",4\r\n") << "4";
}

void TestPercorsi::scritturaERiletturaDellaRiga() {
    QFETCH(QString, cartella);
    QFETCH(int, postazione);
    QFETCH(QByteArray, atteso);
    QFETCH(QString, postazioneLetta);

    QTemporaryDir dir;
    const QString file = dir.filePath(NomeFilePercorsi);
    ScriviPercorsi(cartella, qint16(postazione), file);
    QCOMPARE(contenuto(file), atteso);

    const ValoriPercorsi letti = leggiFilePercorsi(file);
    QCOMPARE(letti.cartella, cartella);
    QCOMPARE(letti.postazione, postazioneLetta);
}

void TestPercorsi::formeAccettateInLettura_data() {
    QTest::addColumn<QByteArray>("dati");
    QTest::addColumn<QString>("cartella");
    QTest::addColumn<QString>("postazione");

    QTest::newRow("una riga") << QByteArray("\"C:\\QVR\",3\r\n") << "C:\\QVR"
                              << "3";
    QTest::newRow("due righe CR LF") << QByteArray("\"C:\\QVR\"\r\n3\r\n") << "C:\\QVR"
                                     << "3";
    QTest::newRow("due righe LF") << QByteArray("\"C:\\QVR\"\n3\n") << "C:\\QVR"
                                  << "3";
    QTest::newRow("due righe CR") << QByteArray("\"C:\\QVR\"\r3\r") << "C:\\QVR"
                                  << "3";
    QTest::newRow("senza a capo finale") << QByteArray("\"C:\\QVR\",10") << "C:\\QVR"
                                         << "10";
    QTest::newRow("virgola tra virgolette")
        << QByteArray("\"\\\\srv\\a,b\",2\r\n") << "\\\\srv\\a,b"
        << "2";
    QTest::newRow("cartella senza virgolette") << QByteArray("C:\\QVR,5\r\n") << "C:\\QVR"
                                               << "5";
    QTest::newRow("zero iniziale conservato") << QByteArray("\"C:\\QVR\",03\r\n") << "C:\\QVR"
                                              << "03";
    QTest::newRow("postazione tra virgolette") << QByteArray("\"C:\\QVR\",\"7\"\r\n") << "C:\\QVR"
                                               << "7";
    QTest::newRow("postazione non numerica") << QByteArray("\"C:\\QVR\",dieci\r\n") << "C:\\QVR"
                                             << "dieci";
    QTest::newRow("valori oltre il secondo ignorati")
        << QByteArray("\"C:\\QVR\",4,x,y\r\naltro\r\n") << "C:\\QVR"
        << "4";
    QTest::newRow("spazi attorno ai valori") << QByteArray("  \"C:\\QVR\"  ,  6  \r\n") << "C:\\QVR"
                                             << "6";
    QTest::newRow("testo dopo la virgoletta di chiusura")
        << QByteArray("\"C:\\QVR\"xyz,8\r\n") << "C:\\QVR"
        << "8";
    QTest::newRow("secondo valore vuoto") << QByteArray("\"C:\\QVR\",\r\n") << "C:\\QVR"
                                          << "";
    QTest::newRow("segno di ordine dei byte")
        << QByteArray("\xEF\xBB\xBF\"C:\\QVR\",9\r\n") << "C:\\QVR"
        << "9";
    QTest::newRow("Latin-1 di un sistema vecchio")
        << QByteArray("\"C:\\Citt\xe0\",1\r\n") << "C:\\Città"
        << "1";
    QTest::newRow("UTF-8") << QByteArray("\"C:\\Citt\xc3\xa0\",1\r\n") << "C:\\Città"
                           << "1";
    QTest::newRow("NUL dopo i due valori ignorato")
        << QByteArray("\"C:\\QVR\",3\r\n\0\0\0", 15) << "C:\\QVR"
        << "3";
}

void TestPercorsi::formeAccettateInLettura() {
    QFETCH(QByteArray, dati);
    QFETCH(QString, cartella);
    QFETCH(QString, postazione);

    QTemporaryDir dir;
    const QString file = dir.filePath(NomeFilePercorsi);
    scriviFile(file, dati);
    const ValoriPercorsi letti = leggiFilePercorsi(file);
    QCOMPARE(letti.cartella, cartella);
    QCOMPARE(letti.postazione, postazione);
}

void TestPercorsi::corpusDiFileDanneggiati() {
    // Each file is named <what>.<error number>.txt.
    const QDir corpus(QStringLiteral(QVR_TEST_DATA_DIR "/percorsi"));
    const QStringList nomi = corpus.entryList({QStringLiteral("*.txt")}, QDir::Files);
    QVERIFY2(nomi.size() >= 8, "corpus dei file danneggiati mancante");
    for (const QString& nome : nomi) {
        const QStringList parti = nome.split(QLatin1Char('.'));
        QVERIFY2(parti.size() == 3, qPrintable(nome));
        bool ok = false;
        const int atteso = parti.at(1).toInt(&ok);
        QVERIFY2(ok, qPrintable(nome));
        const QString file = corpus.filePath(nome);
        const int numero = numeroErrore([&] { leggiFilePercorsi(file); });
        QVERIFY2(
            numero == atteso,
            qPrintable(
                QStringLiteral("%1: errore %2 invece di %3").arg(nome).arg(numero).arg(atteso)));
        QVERIFY(!descrizioneErrore(numero).isEmpty());
    }
}

void TestPercorsi::rigaDaUnMegabyte() {
    QTemporaryDir dir;
    const QString file = dir.filePath(NomeFilePercorsi);
    const QByteArray mega(1024 * 1024, 'x');

    // The two values end early: what follows on the line is never read.
    scriviFile(file, "\"C:\\QVR\",3," + mega + "\r\n");
    ValoriPercorsi letti = leggiFilePercorsi(file);
    QCOMPARE(letti.cartella, QStringLiteral("C:\\QVR"));
    QCOMPARE(letti.postazione, QStringLiteral("3"));

    // A value that runs on for a megabyte is refused, not read whole or cut.
    scriviFile(file, mega + ",3\r\n");
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(file); }), Err::Overflow);
    scriviFile(file, "\"" + mega + "\",3\r\n");
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(file); }), Err::Overflow);
    scriviFile(file, "\"C:\\QVR\"," + mega);
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(file); }), Err::Overflow);
    // A megabyte of blank lines ends before a value: nothing to read there either.
    scriviFile(file, QByteArray(1024 * 1024, ' '));
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(file); }), Err::Overflow);
}

void TestPercorsi::fileECartelleMancanti() {
    QTemporaryDir dir;
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(dir.filePath(NomeFilePercorsi)); }),
             Err::FileNonTrovato);
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(dir.filePath("manca/percorsi.txt")); }),
             Err::PercorsoNonTrovato);
    // A file where a folder of the path should be.
    scriviFile(dir.filePath("file"), "x");
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(dir.filePath("file/percorsi.txt")); }),
             Err::PercorsoNonTrovato);
    // A folder in place of the file.
    QVERIFY(QDir(dir.path()).mkdir(NomeFilePercorsi));
    QCOMPARE(numeroErrore([&] { leggiFilePercorsi(dir.filePath(NomeFilePercorsi)); }),
             Err::AccessoNegato);

    // Writing never builds a folder.
    QCOMPARE(
        numeroErrore([&] { ScriviPercorsi("C:\\QVR", 1, dir.filePath("manca/percorsi.txt")); }),
        Err::PercorsoNonTrovato);
    QVERIFY(!QFileInfo::exists(dir.filePath("manca")));

    // The error carries its Italian description for the operator.
    try {
        leggiFilePercorsi(dir.filePath("nessuno.txt"));
        QFAIL("nessun errore");
    } catch (const ErroreQvr& e) {
        QCOMPARE(e.descrizione(), QStringLiteral("File non trovato"));
        QVERIFY(e.testoCompleto().startsWith(QStringLiteral("Errore 53: File non trovato")));
    }
}

void TestPercorsi::altraCartellaDiLavoroAltroFile() {
    QTemporaryDir primo;
    QTemporaryDir secondo;
    {
        CartellaDiLavoro qui(primo.path());
        ScriviPercorsi(QStringLiteral("\\\\server\\qvr"), 10);
        QVERIFY(QFileInfo::exists(primo.filePath(QStringLiteral("percorsi.txt"))));
        LeggiPercorsi();
        QCOMPARE(PercorsoArchivi, QStringLiteral("\\\\server\\qvr"));
        QCOMPARE(PostazioneTesto, QStringLiteral("10"));
    }
    {
        CartellaDiLavoro altrove(secondo.path());
        QCOMPARE(numeroErrore([] { LeggiPercorsi(); }), Err::FileNonTrovato);
        // A failed read leaves the values of the last good one.
        QCOMPARE(PercorsoArchivi, QStringLiteral("\\\\server\\qvr"));
        QCOMPARE(PostazioneTesto, QStringLiteral("10"));

        scriviFile(secondo.filePath(QStringLiteral("percorsi.txt")), "\"/srv/altro\"\r\n02\r\n");
        LeggiPercorsi();
        QCOMPARE(PercorsoArchivi, QStringLiteral("/srv/altro"));
        QCOMPARE(PostazioneTesto, QStringLiteral("02"));
    }
}

void TestPercorsi::sostituzioneInUnSoloPasso() {
    QTemporaryDir dir;
    const QString file = dir.filePath(NomeFilePercorsi);
    scriviFile(file, "\"\\\\server\\una\\cartella\\molto\\lunga\",10\r\nriga in piu\r\n");
    ScriviPercorsi(QStringLiteral("C:\\Q"), 2, file);
    QCOMPARE(contenuto(file), QByteArray("\"C:\\Q\",2\r\n"));
    // No temporary file is left behind next to it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{NomeFilePercorsi});
}

void TestPercorsi::sostituzioneImpossibileLasciaIlVecchioFile() {
    QTemporaryDir dir;

    // A folder stands where the file should be: the write fails and reports it.
    const QString cartella = dir.filePath(QStringLiteral("sub"));
    QVERIFY(QDir().mkpath(cartella + QStringLiteral("/percorsi.txt/dentro")));
    QCOMPARE(numeroErrore([&] { ScriviPercorsi("C:\\QVR", 1, cartella + "/percorsi.txt"); }),
             Err::AccessoNegato);
    QVERIFY(QFileInfo(cartella + QStringLiteral("/percorsi.txt/dentro")).isDir());

    // A folder where nobody may write: the old file stays whole and nothing else appears.
    if (::geteuid() == 0)
        QSKIP("i permessi non fermano l'amministratore");
    const QString file = dir.filePath(NomeFilePercorsi);
    const QByteArray vecchio("\"C:\\VECCHIO\",4\r\n");
    scriviFile(file, vecchio);
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const int numero = numeroErrore([&] { ScriviPercorsi("C:\\NUOVO", 5, file); });
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner));
    QCOMPARE(numero, Err::AccessoNegato);
    QCOMPARE(contenuto(file), vecchio);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{NomeFilePercorsi});
}

void TestPercorsi::processoUccisoDuranteIlSalvataggio() {
    // A program saving the settings over and over is killed at random instants: the file is
    // always one of the two whole lines, never empty or cut.
    QTemporaryDir dir;
    const QString file = dir.filePath(NomeFilePercorsi);
    const QByteArray lunga("\"\\\\server\\archivi\\sede centrale\",10\r\n");
    const QByteArray corta("\"C:\\Q\",1\r\n");
    ScriviPercorsi(QStringLiteral("C:\\Q"), 1, file);
    auto* caso = QRandomGenerator::global();
    int cambiati = 0;
    for (int giro = 0; giro < 30; ++giro) {
        const QByteArray prima = contenuto(file);
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(test::cartellaProgrammiTest() + QStringLiteral("/aiuto_contatore"),
                {QStringLiteral("scrivi-percorsi"), file});
        QVERIFY(p.waitForStarted());
        QElapsedTimer attesa;
        attesa.start();
        while (contenuto(file) == prima && attesa.elapsed() < 5000)
            QThread::usleep(200);
        QVERIFY2(p.state() == QProcess::Running, "il programma di salvataggio si e' fermato");
        QThread::usleep(caso->bounded(0, 3000));
        p.kill();
        QVERIFY(p.waitForFinished(5000));
        const QByteArray dopo = contenuto(file);
        QVERIFY2(dopo == lunga || dopo == corta, dopo.toPercentEncoding().constData());
        cambiati += dopo != prima;
        const ValoriPercorsi letti = leggiFilePercorsi(file);
        QVERIFY(letti.postazione == QStringLiteral("10") ||
                letti.postazione == QStringLiteral("1"));
    }
    QVERIFY(cambiati > 0);
}

QTEST_GUILESS_MAIN(TestPercorsi)
#include "test_percorsi.moc"
