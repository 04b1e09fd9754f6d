// The shared counter file Nr4All.txt: the lines it holds and how they read, the failures by
// number, the bounded wait on a held file, the single-lock draw, many processes drawing at once
// and processes killed in the middle of a rewrite. The lines, the rewrites and the draws run on
// either engine (QVR_MOTORE=server: the counter row of an archive on the test server); the cases
// about the file itself only on folders.

#include "supporto.h"

#include "archive/contatore.h"
#include "archive/errori.h"
#include "archive/nomi.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <chrono>
#include <climits>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qvr;
using qvr::test::contenuto;
using qvr::test::numeroErrore;
using qvr::test::scriviFile;
namespace ct = qvr::contatore;

namespace {

// Another station holding the file: a lock taken on a descriptor of its own.
class BloccoEsterno {
public:
    BloccoEsterno(const QString& file, int tipo) {
        m_fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd >= 0 && ::flock(m_fd, tipo | LOCK_NB) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~BloccoEsterno() { rilascia(); }
    bool preso() const { return m_fd >= 0; }
    void rilascia() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

// Restores the default bound after each test that changes it.
struct LimiteTemporaneo {
    explicit LimiteTemporaneo(int ms) { ct::impostaLimiteAttesa(ms); }
    ~LimiteTemporaneo() { ct::impostaLimiteAttesa(5000); }
};

// The counter of a fresh archive on the suite's engine, and its raw text.
struct ContatoreProva {
    test::AmbienteProva amb;
    const QString file = amb.file(nomi::FileContatore);
    void scrivi(const QByteArray& dati) const { test::scriviContatoreGrezzo(file, dati); }
    QByteArray testo() const { return test::contatoreGrezzo(file); }
};

QString programmaAiuto() {
    return test::cartellaProgrammiTest() + QStringLiteral("/aiuto_contatore");
}

} // namespace

class TestContatore : public QObject {
    Q_OBJECT

private slots:
    void lettureDelPrimoElemento_data();
    void lettureDelPrimoElemento();
    void corpusDiFileDanneggiati();
    void fileEnormi();
    void fileECartelleMancanti();
    void righeScritte();
    void riscritturaSulloStessoFile();
    void prelievo_data();
    void prelievo();
    void prelievoAlMassimoRifiutato();
    void attesaLimitataSuFileTenuto();
    void fileTenutoRilasciatoInTempo();
    void discoPienoECartellaAlPostoDelFile();
    void collegamentoEFifo();
    void fileDiSolaLettura();
    void moltiProcessiPrelevanoInsieme();
    void processoUccisoDuranteLaRiscrittura();
};

void TestContatore::lettureDelPrimoElemento_data() {
    QTest::addColumn<QByteArray>("dati");
    QTest::addColumn<int>("numero");
    QTest::addColumn<QString>("testo");

    QTest::newRow("riga di un prelievo") << QByteArray("57\r\n") << 57 << "57";
    QTest::newRow("riga di un numero impostato") << QByteArray("0,1,3\r\n") << 0 << "0";
    QTest::newRow("impostato alla postazione 10") << QByteArray("25,1,10\r\n") << 25 << "25";
    QTest::newRow("senza a capo") << QByteArray("41") << 41 << "41";
    QTest::newRow("a capo LF") << QByteArray("7\n8\n") << 7 << "7";
    QTest::newRow("a capo CR") << QByteArray("12\r") << 12 << "12";
    QTest::newRow("negativo") << QByteArray("-5\r\n") << -5 << "-5";
    QTest::newRow("segno piu") << QByteArray("+6\r\n") << 6 << "+6";
    QTest::newRow("spazi attorno") << QByteArray(" \t42 ,1,3\r\n") << 42 << "42";
    QTest::newRow("zeri iniziali") << QByteArray("007\r\n") << 7 << "007";
    QTest::newRow("massimo Long") << QByteArray("2147483647\r\n") << INT_MAX << "2147483647";
    QTest::newRow("minimo Long") << QByteArray("-2147483648\r\n") << INT_MIN << "-2147483648";
    QTest::newRow("avanzo di una riga piu lunga") << QByteArray("58\r\n1,3\r\n") << 58 << "58";
}

void TestContatore::lettureDelPrimoElemento() {
    QFETCH(QByteArray, dati);
    QFETCH(int, numero);
    QFETCH(QString, testo);

    const ContatoreProva c;
    c.scrivi(dati);
    QCOMPARE(ct::leggiLong(c.file), numero);
    QCOMPARE(ct::leggiTesto(c.file), testo);
    // Reading changes nothing.
    QCOMPARE(c.testo(), dati);
}

void TestContatore::corpusDiFileDanneggiati() {
    QVR_SOLO_CARTELLE("i byte di un file danneggiato (NUL compresi)");
    // Each file is named <what>.<error number>.txt. Neither reading nor drawing from it succeeds,
    // and a failed draw leaves the file as it was.
    const QDir corpus(QStringLiteral(QVR_TEST_DATA_DIR "/contatore"));
    const QStringList nomi = corpus.entryList({QStringLiteral("*.txt")}, QDir::Files);
    QVERIFY2(nomi.size() >= 10, "corpus dei file danneggiati mancante");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    for (const QString& nome : nomi) {
        const QStringList parti = nome.split(QLatin1Char('.'));
        QVERIFY2(parti.size() == 3, qPrintable(nome));
        bool ok = false;
        const int atteso = parti.at(1).toInt(&ok);
        QVERIFY2(ok, qPrintable(nome));
        const QByteArray dati = contenuto(corpus.filePath(nome));
        scriviFile(file, dati);

        const int numero = numeroErrore([&] { ct::leggiLong(file); });
        QVERIFY2(
            numero == atteso,
            qPrintable(
                QStringLiteral("%1: errore %2 invece di %3").arg(nome).arg(numero).arg(atteso)));
        QVERIFY2(numeroErrore([&] { ct::preleva(file, true); }) == atteso, qPrintable(nome));
        QVERIFY2(contenuto(file) == dati, qPrintable(nome));
        // The text reading fails on what no number could come from, and passes the rest.
        const int numeroTesto = numeroErrore([&] { ct::leggiTesto(file); });
        qsizetype fine = 0;
        while (fine < dati.size() && dati[fine] != ',' && dati[fine] != '\r' && dati[fine] != '\n')
            ++fine;
        if (atteso == Err::FineFile || dati.left(fine).contains('\0'))
            QVERIFY2(numeroTesto == atteso, qPrintable(nome));
        else
            QVERIFY2(numeroTesto == 0, qPrintable(nome));
    }
}

void TestContatore::fileEnormi() {
    QVR_SOLO_CARTELLE("un file di dieci megabyte");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));

    // Ten megabytes of digits: a number no Long holds, found without reading them all.
    scriviFile(file, QByteArray(10 * 1024 * 1024, '1'));
    QCOMPARE(numeroErrore([&] { ct::leggiLong(file); }), Err::Overflow);
    QCOMPARE(numeroErrore([&] { ct::leggiTesto(file); }), Err::Overflow);
    // Zeros in front do not hide what follows them past the bytes read.
    scriviFile(file, QByteArray(8192, '0') + "5\r\n");
    QCOMPARE(numeroErrore([&] { ct::leggiLong(file); }), Err::Overflow);

    // A sound first line followed by ten megabytes of rubbish: the line counts, and a draw leaves
    // only its own line.
    scriviFile(file, "57\r\n" + QByteArray(10 * 1024 * 1024, 'z'));
    QCOMPARE(ct::leggiLong(file), 57);
    QCOMPARE(ct::preleva(file, false), 58);
    QCOMPARE(contenuto(file), QByteArray("58\r\n"));
}

void TestContatore::fileECartelleMancanti() {
    QVR_SOLO_CARTELLE("file e cartelle del percorso");
    QTemporaryDir dir;
    const QString manca = dir.filePath(QStringLiteral("Nr4All.txt"));
    const QString cartellaManca = dir.filePath(QStringLiteral("archivio/Nr4All.txt"));

    QCOMPARE(numeroErrore([&] { ct::leggiLong(manca); }), Err::FileNonTrovato);
    QCOMPARE(numeroErrore([&] { ct::leggiTesto(manca); }), Err::FileNonTrovato);
    QCOMPARE(numeroErrore([&] { ct::preleva(manca, false); }), Err::FileNonTrovato);
    QCOMPARE(numeroErrore([&] { ct::scriviNumero(manca, 3); }), Err::FileNonTrovato);
    // Only the set number creates a missing file.
    QVERIFY(!QFileInfo::exists(manca));

    QCOMPARE(numeroErrore([&] { ct::leggiLong(cartellaManca); }), Err::PercorsoNonTrovato);
    QCOMPARE(numeroErrore([&] { ct::preleva(cartellaManca, false); }), Err::PercorsoNonTrovato);
    QCOMPARE(numeroErrore([&] { ct::scriviImpostazione(cartellaManca, 0, 3); }),
             Err::PercorsoNonTrovato);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("archivio"))));

    // A file where a folder of the path should be.
    scriviFile(dir.filePath(QStringLiteral("file")), "x");
    QCOMPARE(numeroErrore([&] { ct::leggiLong(dir.filePath(QStringLiteral("file/Nr4All.txt"))); }),
             Err::PercorsoNonTrovato);
}

void TestContatore::righeScritte() {
    const ContatoreProva c;
    const QString& file = c.file;
    // The set-number dialog's rewrite makes a missing counter, as it makes the file.
    QVERIFY(test::rimuoviFileArchivio(file));
    ct::scriviImpostazione(file, 0, 3);
    QCOMPARE(c.testo(), QByteArray("0,1,3\r\n"));
    if (!test::suiteSulServer()) {
        const mode_t maschera = ::umask(0);
        ::umask(maschera);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), int(0666 & ~maschera));
    }

    ct::scriviImpostazione(file, 25, 10);
    QCOMPARE(c.testo(), QByteArray("25,1,10\r\n"));
    ct::scriviNumero(file, 7);
    QCOMPARE(c.testo(), QByteArray("7\r\n"));
    ct::scriviNumero(file, -12);
    QCOMPARE(c.testo(), QByteArray("-12\r\n"));
    ct::scriviNumero(file, INT_MAX);
    QCOMPARE(c.testo(), QByteArray("2147483647\r\n"));
    ct::scriviImpostazione(file, 1, 1);
    QCOMPARE(c.testo(), QByteArray("1,1,1\r\n"));
    QCOMPARE(ct::leggiTesto(file), QStringLiteral("1"));
}

void TestContatore::riscritturaSulloStessoFile() {
    QVR_SOLO_CARTELLE("l'inode del file riscritto");
    // The lock lives on the file the other stations open: a rewrite must never put a new file in
    // its place.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    scriviFile(file, "123456,1,3\r\n");
    const QByteArray nome = QFile::encodeName(file);
    struct stat prima {};
    QCOMPARE(::stat(nome.constData(), &prima), 0);
    ct::scriviNumero(file, 5);
    ct::preleva(file, false);
    ct::scriviImpostazione(file, 9, 2);
    struct stat dopo {};
    QCOMPARE(::stat(nome.constData(), &dopo), 0);
    QCOMPARE(dopo.st_ino, prima.st_ino);
    QCOMPARE(contenuto(file), QByteArray("9,1,2\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestContatore::prelievo_data() {
    QTest::addColumn<QByteArray>("dati");
    QTest::addColumn<bool>("dopo99");
    QTest::addColumn<int>("letto");
    QTest::addColumn<int>("nuovo");

    QTest::newRow("41") << QByteArray("41\r\n") << false << 41 << 42;
    QTest::newRow("99 con il giro") << QByteArray("99\r\n") << true << 0 << 1;
    QTest::newRow("99 senza il giro") << QByteArray("99\r\n") << false << 99 << 100;
    QTest::newRow("150 con il giro") << QByteArray("150\r\n") << true << 150 << 151;
    QTest::newRow("98 con il giro") << QByteArray("98\r\n") << true << 98 << 99;
    QTest::newRow("numero impostato") << QByteArray("0,1,3\r\n") << true << 0 << 1;
    QTest::newRow("99 impostato con il giro") << QByteArray("99,1,4\r\n") << true << 0 << 1;
    QTest::newRow("negativo") << QByteArray("-5\r\n") << false << -5 << -4;
    QTest::newRow("da 9 a 10") << QByteArray("9\r\n") << false << 9 << 10;
}

void TestContatore::prelievo() {
    QFETCH(QByteArray, dati);
    QFETCH(bool, dopo99);
    QFETCH(int, letto);
    QFETCH(int, nuovo);

    const ContatoreProva c;
    c.scrivi(dati);
    qint32 daDove = -999;
    QCOMPARE(ct::preleva(c.file, dopo99, &daDove), nuovo);
    QCOMPARE(daDove, letto);
    QCOMPARE(c.testo(), QByteArray::number(nuovo) + "\r\n");
}

void TestContatore::prelievoAlMassimoRifiutato() {
    const ContatoreProva c;
    const QByteArray massimo("2147483647,1,2\r\n");
    c.scrivi(massimo);
    qint32 letto = -1;
    QCOMPARE(numeroErrore([&] { ct::preleva(c.file, true, &letto); }), Err::Overflow);
    QCOMPARE(letto, -1);
    QCOMPARE(c.testo(), massimo);
    // One below the top still draws the top.
    c.scrivi("2147483646\r\n");
    QCOMPARE(ct::preleva(c.file, false), INT_MAX);
}

void TestContatore::attesaLimitataSuFileTenuto() {
    QVR_SOLO_CARTELLE("il blocco di un altro processo sul file");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    scriviFile(file, "41\r\n");
    LimiteTemporaneo limite(300);

    for (const int tipo : {LOCK_EX, LOCK_SH}) {
        BloccoEsterno altro(file, tipo);
        QVERIFY(altro.preso());
        QElapsedTimer orologio;
        orologio.start();
        QCOMPARE(numeroErrore([&] { ct::preleva(file, false); }), Err::AutorizzazioneNegata);
        const qint64 trascorso = orologio.elapsed();
        QVERIFY2(trascorso >= 290 && trascorso < 1500, qPrintable(QString::number(trascorso)));
        QCOMPARE(numeroErrore([&] { ct::scriviNumero(file, 3); }), Err::AutorizzazioneNegata);
        QCOMPARE(numeroErrore([&] { ct::scriviImpostazione(file, 3, 1); }),
                 Err::AutorizzazioneNegata);
        QCOMPARE(contenuto(file), QByteArray("41\r\n"));
    }
    // An exclusive holder keeps out the readers too.
    BloccoEsterno altro(file, LOCK_EX);
    QVERIFY(altro.preso());
    QCOMPARE(numeroErrore([&] { ct::leggiLong(file); }), Err::AutorizzazioneNegata);
    QCOMPARE(numeroErrore([&] { ct::leggiTesto(file); }), Err::AutorizzazioneNegata);
    altro.rilascia();
    QCOMPARE(ct::leggiLong(file), 41);

    // A bound of zero makes a single attempt.
    BloccoEsterno ancora(file, LOCK_EX);
    ct::impostaLimiteAttesa(0);
    QCOMPARE(ct::limiteAttesa(), 0);
    QElapsedTimer orologio;
    orologio.start();
    QCOMPARE(numeroErrore([&] { ct::leggiLong(file); }), Err::AutorizzazioneNegata);
    QVERIFY(orologio.elapsed() < 200);
}

void TestContatore::fileTenutoRilasciatoInTempo() {
    QVR_SOLO_CARTELLE("il blocco di un altro processo sul file");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    scriviFile(file, "41\r\n");
    QCOMPARE(ct::limiteAttesa(), 5000);
    LimiteTemporaneo limite(3000);

    auto altro = std::make_unique<BloccoEsterno>(file, LOCK_EX);
    QVERIFY(altro->preso());
    std::thread rilascio([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        altro->rilascia();
    });
    QElapsedTimer orologio;
    orologio.start();
    qint32 numero = 0;
    const int errore = numeroErrore([&] { numero = ct::preleva(file, false); });
    const qint64 trascorso = orologio.elapsed();
    rilascio.join();
    QCOMPARE(errore, 0);
    QCOMPARE(numero, 42);
    QVERIFY2(trascorso >= 140 && trascorso < 1000, qPrintable(QString::number(trascorso)));
}

void TestContatore::collegamentoEFifo() {
    QVR_SOLO_CARTELLE("un collegamento e una FIFO al posto del file");
    // A link planted in the archive folder is never followed, a FIFO never waited on.
    QTemporaryDir dir;
    const QString fuori = dir.filePath(QStringLiteral("fuori.txt"));
    {
        QFile f(fuori);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("segreto\n");
    }
    const QString link = dir.filePath(QStringLiteral("Nr4All.txt"));
    QVERIFY(QFile::link(fuori, link));
    QCOMPARE(numeroErrore([&] { ct::scriviImpostazione(link, 0, 3); }), Err::AccessoNegato);
    QCOMPARE(numeroErrore([&] { ct::preleva(link, false); }), Err::AccessoNegato);
    QFile f(fuori);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("segreto\n"));
    const QString fifo = dir.filePath(QStringLiteral("fifo.txt"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QCOMPARE(numeroErrore([&] { ct::leggiLong(fifo); }), Err::AccessoNegato);
}

void TestContatore::discoPienoECartellaAlPostoDelFile() {
    QVR_SOLO_CARTELLE("un disco pieno, una cartella al posto del file");
    // The system's always-full device stands for a full disk: nothing is ever stored there.
    if (QFileInfo(QStringLiteral("/dev/full")).exists()) {
        // A device is not the counter: refused before anything is written.
        QCOMPARE(numeroErrore([] { ct::scriviNumero(QStringLiteral("/dev/full"), 5); }),
                 Err::AccessoNegato);
        QCOMPARE(numeroErrore([] { ct::scriviImpostazione(QStringLiteral("/dev/full"), 5, 1); }),
                 Err::AccessoNegato);
    }
    QTemporaryDir dir;
    const QString cartella = dir.filePath(QStringLiteral("Nr4All.txt"));
    QVERIFY(QDir().mkpath(cartella));
    QCOMPARE(numeroErrore([&] { ct::leggiLong(cartella); }), Err::AccessoNegato);
    QCOMPARE(numeroErrore([&] { ct::preleva(cartella, false); }), Err::AccessoNegato);
    QCOMPARE(numeroErrore([&] { ct::scriviImpostazione(cartella, 1, 1); }), Err::AccessoNegato);
}

void TestContatore::fileDiSolaLettura() {
    QVR_SOLO_CARTELLE("i permessi del file");
    if (::geteuid() == 0)
        QSKIP("i permessi non fermano l'amministratore");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    scriviFile(file, "57\r\n");
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
    // A read-only file can still be read, under a shared lock...
    QCOMPARE(ct::leggiLong(file), 57);
    QCOMPARE(ct::leggiTesto(file), QStringLiteral("57"));
    // ...which still keeps a writer out...
    {
        LimiteTemporaneo limite(100);
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        BloccoEsterno lettore(file, LOCK_SH);
        QVERIFY(lettore.preso());
        QCOMPARE(numeroErrore([&] { ct::scriviNumero(file, 1); }), Err::AutorizzazioneNegata);
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
    }
    // ...but not rewritten.
    QCOMPARE(numeroErrore([&] { ct::preleva(file, false); }), Err::AccessoNegato);
    QCOMPARE(numeroErrore([&] { ct::scriviNumero(file, 1); }), Err::AccessoNegato);
    QCOMPARE(numeroErrore([&] { ct::scriviImpostazione(file, 1, 1); }), Err::AccessoNegato);
    QCOMPARE(contenuto(file), QByteArray("57\r\n"));
}

void TestContatore::moltiProcessiPrelevanoInsieme() {
    QVR_SOLO_CARTELLE("processi che prelevano dallo stesso file");
    constexpr int processi = 6;
    constexpr int perProcesso = 400;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    ct::scriviImpostazione(file, 0, 1);

    std::vector<std::unique_ptr<QProcess>> stazioni;
    for (int i = 0; i < processi; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(programmaAiuto(), {QStringLiteral("preleva"), file, QString::number(perProcesso),
                                    dir.filePath(QStringLiteral("uscita%1.txt").arg(i))});
        stazioni.push_back(std::move(p));
    }
    for (auto& p : stazioni) {
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }

    QSet<int> visti;
    int totale = 0;
    for (int i = 0; i < processi; ++i) {
        const QList<QByteArray> righe =
            contenuto(dir.filePath(QStringLiteral("uscita%1.txt").arg(i))).split('\n');
        int precedente = 0;
        for (const QByteArray& riga : righe) {
            if (riga.isEmpty())
                continue;
            const int numero = riga.toInt();
            // Each station sees the sequence rise.
            QVERIFY(numero > precedente);
            precedente = numero;
            QVERIFY2(!visti.contains(numero), qPrintable(QStringLiteral("doppio: %1").arg(numero)));
            visti.insert(numero);
            ++totale;
        }
    }
    QCOMPARE(totale, processi * perProcesso);
    for (int n = 1; n <= processi * perProcesso; ++n)
        QVERIFY(visti.contains(n));
    QCOMPARE(contenuto(file), QByteArray::number(processi * perProcesso) + "\r\n");
}

void TestContatore::processoUccisoDuranteLaRiscrittura() {
    QVR_SOLO_CARTELLE("la riscrittura del file interrotta");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Nr4All.txt"));
    // Start just below the points where the line grows by a digit.
    const int partenze[] = {0, 95, 995, 9995, 99995};
    auto* caso = QRandomGenerator::global();
    int ultimo = 0;
    for (int giro = 0; giro < 100; ++giro) {
        if (giro % 20 == 0) {
            ultimo = partenze[giro / 20];
            ct::scriviImpostazione(file, ultimo, 1);
            ct::scriviNumero(file, ultimo);
        }
        const QByteArray prima = contenuto(file);
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(programmaAiuto(), {QStringLiteral("riscrivi"), file});
        QVERIFY(p.waitForStarted());
        // Kill it while it rewrites: once the file has started to change, at a random instant.
        QElapsedTimer attesa;
        attesa.start();
        while (contenuto(file) == prima && attesa.elapsed() < 5000)
            QThread::usleep(200);
        QVERIFY2(p.state() == QProcess::Running, "il programma di riscrittura si e' fermato");
        QThread::usleep(caso->bounded(0, 5000));
        p.kill();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);

        const QByteArray dati = contenuto(file);
        qint32 numero = 0;
        const int errore = numeroErrore([&] { numero = ct::leggiLong(file); });
        QVERIFY2(errore == 0, qPrintable(QStringLiteral("giro %1: errore %2, file \"%3\"")
                                             .arg(giro)
                                             .arg(errore)
                                             .arg(QString::fromLatin1(dati.toPercentEncoding()))));
        QVERIFY2(
            numero >= ultimo,
            qPrintable(QStringLiteral("giro %1: %2 dopo %3").arg(giro).arg(numero).arg(ultimo)));
        ultimo = numero;
    }
    QVERIFY(ultimo > partenze[4]);
}

QTEST_GUILESS_MAIN(TestContatore)
#include "test_contatore.moc"
