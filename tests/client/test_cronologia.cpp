// The station's history file: name, line format, elapsed minutes, appending and durability.

#include "app/gestione.h"
#include "console/cronologia.h"
#include "supporto.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qvr;
using qvr::test::contenuto;

namespace {
// A clock that returns the times of the list, one per call.
Cronologia::Orologio orologio(QList<QDateTime> tempi) {
    auto coda = std::make_shared<QList<QDateTime>>(std::move(tempi));
    return [coda] { return coda->takeFirst(); };
}

QDateTime momento(int giorno, int ora, int minuto, int secondo = 0) {
    return QDateTime(QDate(2026, 12, giorno), QTime(ora, minuto, secondo));
}
} // namespace

class TestCronologia : public QObject {
    Q_OBJECT

private slots:
    void nomeFile() {
        QCOMPARE(Cronologia::nomeFile(3), QStringLiteral("Cronologia-03.txt"));
        QCOMPARE(Cronologia::nomeFile(10), QStringLiteral("Cronologia-10.txt"));
        QCOMPARE(Cronologia::nomeFile(1), QStringLiteral("Cronologia-01.txt"));
    }

    void formatoRigaETrascorsi() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Cronologia-03.txt"));
        Cronologia c(orologio({momento(7, 14, 30, 59), momento(7, 14, 35, 1),
                               momento(7, 14, 35, 50), momento(7, 9, 5)}));
        c.apri(file);
        const auto v1 = c.registra(12);
        QCOMPARE(v1.trascorsi, 0); // first call of the run
        QCOMPARE(v1.orario, QStringLiteral("14.30"));
        const auto v2 = c.registra(7);
        QCOMPARE(v2.trascorsi, 5); // counted on the minutes shown, not the seconds
        const auto v3 = c.registra(7);
        QCOMPARE(v3.trascorsi, 0); // same minute
        const auto v4 = c.registra(8);
        QCOMPARE(v4.trascorsi, -330); // the clock went back: the difference is kept as it is
        QCOMPARE(c.contaChiamate(), 4);
        // Every line is on disk before registra returns, without closing the file.
        QCOMPARE(contenuto(file), QByteArray("\"12\",\"14.30\",\"07/12/2026\",0\r\n"
                                             "\"7\",\"14.35\",\"07/12/2026\",5\r\n"
                                             "\"7\",\"14.35\",\"07/12/2026\",0\r\n"
                                             "\"8\",\"09.05\",\"07/12/2026\",-330\r\n"));
    }

    void mezzanotte() {
        // 23.58 then 00.03 of the next day gives 5, and a call at 00.00 is a previous call
        // like any other.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("c.txt"));
        Cronologia c(orologio({momento(7, 23, 58), momento(8, 0, 3), momento(8, 0, 0),
                               momento(8, 0, 0), momento(8, 0, 4)}));
        c.apri(file);
        QCOMPARE(c.registra(1).trascorsi, 0);
        QCOMPARE(c.registra(2).trascorsi, 5);
        QCOMPARE(c.registra(3).trascorsi, -3);
        QCOMPARE(c.registra(4).trascorsi, 0);
        const auto v = c.registra(5);
        QCOMPARE(v.trascorsi, 4);
        QCOMPARE(v.riga, QByteArray("\"5\",\"00.04\",\"08/12/2026\",4\r\n"));
        // Last day of the year into the next one.
        Cronologia d(orologio({QDateTime(QDate(2026, 12, 31), QTime(23, 59)),
                               QDateTime(QDate(2027, 1, 1), QTime(0, 1))}));
        d.apri(file);
        d.registra(1);
        QCOMPARE(d.registra(2).trascorsi, 2);
    }

    void accodaSenzaTroncare() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Cronologia-10.txt"));
        {
            QFile vecchio(file);
            QVERIFY(vecchio.open(QIODevice::WriteOnly));
            vecchio.write("\"41\",\"08.00\",\"06/12/2026\",0\r\n");
        }
        Cronologia c(orologio({momento(7, 8, 10)}));
        c.apri(file);
        QCOMPARE(c.registra(42).trascorsi, 0); // a new run starts from 0 whatever the file holds
        QCOMPARE(contenuto(file), QByteArray("\"41\",\"08.00\",\"06/12/2026\",0\r\n"
                                             "\"42\",\"08.10\",\"07/12/2026\",0\r\n"));
    }

    void chiusuraAllaFineDelProgramma() {
        // The program's ending closes the file; a call afterwards is an error, not a lost line.
        QTemporaryDir dir;
        test::UscitaIntercettata uscita;
        Cronologia c(orologio({momento(7, 8, 0)}));
        c.apri(dir.filePath(QStringLiteral("c.txt")));
        QVERIFY(c.aperta());
        chiudiProgramma(0);
        QCOMPARE(uscita.volte(), 1);
        QVERIFY(!c.aperta());
        QVERIFY_THROWS_EXCEPTION(ErroreQvr, c.registra(1));
    }

    void cartellaNonScrivibile() {
        QTemporaryDir dir;
        Cronologia c;
        try {
            c.apri(dir.filePath(QStringLiteral("manca/Cronologia-01.txt")));
            QFAIL("aperto in una cartella che non esiste");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::PercorsoNonTrovato);
        }
        QVERIFY(!c.aperta());
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (QFile(dir.filePath(QStringLiteral("x"))).open(QIODevice::WriteOnly))
            QSKIP("running with rights that ignore permissions");
        try {
            c.apri(dir.filePath(QStringLiteral("Cronologia-01.txt")));
            QFAIL("aperto in una cartella di sola lettura");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::AccessoNegato);
        }
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
    }

    void discoPieno() {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full");
        // A device is never taken for the history file (the full disk itself is tried on a
        // small tmpfs by test_cartella_guasta).
        Cronologia c(orologio({momento(7, 8, 0)}));
        try {
            c.apri(QStringLiteral("/dev/full"));
            QFAIL("a device opened as the history file");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::AccessoNegato);
        }
        QVERIFY(!c.aperta());
        QCOMPARE(c.contaChiamate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCronologia)
#include "test_cronologia.moc"
