// The station's display record: which table, what is written, in which order, and two consoles
// of the same station advancing the number at once.

#include "app/globali.h"
#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "console/display.h"
#include "supporto.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

using namespace qvr;
using qvr::test::esegui;
using qvr::test::interroga;
using qvr::test::numeroErrore;

namespace {} // namespace

class TestDisplay : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_qvrb;

    // A QVRB.mdb with NumeriCode1, NumeriCode3 (typed as given, two rows, an extra column and
    // triggers that log every update) and NumeriCode10.
    void creaQvrb(const QString& tipo = QStringLiteral("INTEGER")) {
        QFile::remove(m_qvrb);
        esegui(m_qvrb, "CREATE TABLE NumeriCode1 (NumeroA1 INTEGER, StatoN1 INTEGER, F1 TEXT)");
        esegui(m_qvrb, "INSERT INTO NumeriCode1 VALUES (1, 3, 'F')");
        esegui(m_qvrb, QStringLiteral("CREATE TABLE NumeriCode3 (NumeroA1 %1, StatoN1 INTEGER, "
                                      "F1 TEXT, Altro TEXT)")
                           .arg(tipo));
        esegui(m_qvrb, "INSERT INTO NumeriCode3 VALUES (7, 3, 'T', 'resta')");
        esegui(m_qvrb, "INSERT INTO NumeriCode3 VALUES (70, 1, 'F', 'seconda')");
        esegui(m_qvrb, "CREATE TABLE NumeriCode10 (NumeroA1 NUMERIC, StatoN1 INTEGER, F1 TEXT)");
        esegui(m_qvrb, "INSERT INTO NumeriCode10 VALUES (10, 2, 'F')");
        esegui(m_qvrb, "CREATE TABLE Registro (Voce TEXT)");
        for (const char* campo : {"NumeroA1", "StatoN1", "F1"})
            esegui(m_qvrb, QStringLiteral("CREATE TRIGGER t_%1 AFTER UPDATE OF %1 ON NumeriCode3 "
                                          "BEGIN INSERT INTO Registro VALUES ('%1'); END")
                               .arg(QLatin1String(campo)));
        esegui(m_qvrb, "CREATE TRIGGER t_riga AFTER UPDATE ON NumeriCode3 "
                       "BEGIN INSERT INTO Registro VALUES ('riga'); END");
    }

    QString riga(const QString& tabella, int rowid = 1) {
        return interroga(m_qvrb, QStringLiteral("SELECT NumeroA1 || '/' || typeof(NumeroA1) || "
                                                "'/' || StatoN1 || '/' || F1 FROM %1 WHERE "
                                                "rowid=%2")
                                     .arg(tabella)
                                     .arg(rowid))
            .toString();
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_qvrb = m_dir.path() + QStringLiteral("/QVRB.mdb");
        creaQvrb();
        PercorsoArchivi = m_dir.path();
        NumeroPostazione = 3;
        Cursore::impostaTimeoutOccupato(5000);
    }

    void nomeTabella() {
        NumeroPostazione = 1;
        QCOMPARE(TabellaDisplayCorrente(), QStringLiteral("NumeriCode1"));
        NumeroPostazione = 10;
        QCOMPARE(TabellaDisplayCorrente(), QStringLiteral("NumeriCode10"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("10"));
        AggiornaDisplay(qint32(11), qint16(3), QStringLiteral("F"));
        QCOMPARE(riga("NumeriCode10"), QStringLiteral("11/integer/3/F"));
        QCOMPARE(riga("NumeriCode1"), QStringLiteral("1/integer/3/F"));
        QCOMPARE(riga("NumeriCode3"), QStringLiteral("7/integer/3/T"));
    }

    // Every update writes the three fields in one statement, only on the first row, even when
    // the number does not change (the wait).
    void attesaRiscriveTuttiICampi() {
        AggiornaDisplay(qint32(7), qint16(2), QStringLiteral("F"));
        QCOMPARE(riga("NumeriCode3"), QStringLiteral("7/integer/2/F"));
        QCOMPARE(interroga(m_qvrb, "SELECT group_concat(Voce, ',') FROM "
                                   "(SELECT Voce FROM Registro ORDER BY Voce)")
                     .toString(),
                 QStringLiteral("F1,NumeroA1,StatoN1,riga"));
        QCOMPARE(riga("NumeriCode3", 2), QStringLiteral("70/integer/1/F"));
        QCOMPARE(interroga(m_qvrb, "SELECT Altro FROM NumeriCode3 WHERE rowid=1").toString(),
                 QStringLiteral("resta"));
    }

    void azzeramento() {
        AggiornaDisplay(qint32(0), qint16(1), QStringLiteral("F"));
        QCOMPARE(riga("NumeriCode3"), QStringLiteral("0/integer/1/F"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("0"));
    }

    // The set-number dialog writes a floating value; it reads back as a whole number.
    void numeroDouble_data() {
        QTest::addColumn<QString>("tipo");
        QTest::newRow("INTEGER") << "INTEGER";
        QTest::newRow("REAL") << "REAL";
        QTest::newRow("NUMERIC") << "NUMERIC";
    }
    void numeroDouble() {
        QFETCH(QString, tipo);
        creaQvrb(tipo);
        AggiornaDisplay(25.0, qint16(1), QStringLiteral("F"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("25"));
        AggiornaDisplay(qint32(26), qint16(3), QStringLiteral("T"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("26"));
        QCOMPARE(riga("NumeriCode3", 2), QStringLiteral("70") +
                                             (tipo == "REAL" ? ".0/real" : "/integer") +
                                             QStringLiteral("/1/F"));
    }

    void testoNelCampoNumero() {
        creaQvrb(QStringLiteral("TEXT"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("7"));
        esegui(m_qvrb, "UPDATE NumeriCode3 SET NumeroA1=NULL WHERE rowid=1");
        QCOMPARE(numeroErrore([] { LeggiNumeroDisplay(); }), Err::UsoNonValidoNull);
    }

    void errori() {
        NumeroPostazione = 5; // no NumeriCode5 in this archive
        QCOMPARE(numeroErrore([] { LeggiNumeroDisplay(); }), Err::TabellaNonTrovata);
        QCOMPARE(numeroErrore([] { AggiornaDisplay(qint32(1), qint16(3), "F"); }),
                 Err::TabellaNonTrovata);
        NumeroPostazione = 3;
        esegui(m_qvrb, "DELETE FROM NumeriCode3");
        QCOMPARE(numeroErrore([] { AggiornaDisplay(qint32(1), qint16(3), "F"); }),
                 Err::NessunRecordCorrente);
        QCOMPARE(interroga(m_qvrb, "SELECT count(*) FROM NumeriCode3").toInt(), 0);
        esegui(m_qvrb, "ALTER TABLE NumeriCode1 RENAME COLUMN F1 TO Flag");
        NumeroPostazione = 1;
        QCOMPARE(numeroErrore([] { AggiornaDisplay(qint32(2), qint16(3), "F"); }),
                 Err::CampoNonTrovato);
        QCOMPARE(
            interroga(m_qvrb, "SELECT NumeroA1 || StatoN1 || Flag FROM NumeriCode1").toString(),
            QStringLiteral("13F"));

        PercorsoArchivi = m_dir.path() + QStringLiteral("/altrove");
        QCOMPARE(numeroErrore([] { LeggiNumeroDisplay(); }), Err::PercorsoNonValido);
        QDir(m_dir.path()).mkdir(QStringLiteral("altrove"));
        QCOMPARE(numeroErrore([] { AggiornaDisplay(qint32(2), qint16(3), "F"); }),
                 Err::DatabaseNonTrovato);
        QVERIFY(QDir(PercorsoArchivi).isEmpty());
    }

    // A decision that writes nothing, or that fails, leaves the row and no lock behind.
    void seguiSenzaScrittura() {
        bool chiamata = false;
        const QString letto = SeguiEAggiornaDisplay([&](const QString& n) {
            chiamata = true;
            Q_UNUSED(n);
            return std::optional<ScritturaDisplay>{};
        });
        QVERIFY(chiamata);
        QCOMPARE(letto, QStringLiteral("7"));
        QCOMPARE(riga("NumeriCode3"), QStringLiteral("7/integer/3/T"));

        QCOMPARE(numeroErrore([] {
                     SeguiEAggiornaDisplay([](const QString&) -> std::optional<ScritturaDisplay> {
                         throw ErroreQvr(Err::Overflow);
                     });
                 }),
                 Err::Overflow);
        Cursore::impostaTimeoutOccupato(0);
        AggiornaDisplay(qint32(8), qint16(3), QStringLiteral("F")); // no lock left behind
        QCOMPARE(riga("NumeriCode3"), QStringLiteral("8/integer/3/F"));

        const QString prima = SeguiEAggiornaDisplay([](const QString& n) {
            return std::optional<ScritturaDisplay>(
                ScritturaDisplay{QVariant(n.toInt() + 1.0), qint16(1), QStringLiteral("F")});
        });
        QCOMPARE(prima, QStringLiteral("8"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("9"));
    }

    // Several consoles of the same station pressing at once never call the same number twice.
    void consoleConcorrenti() {
        constexpr int Consoles = 4;
        constexpr int Chiamate = 40;
        AggiornaDisplay(qint32(0), qint16(1), QStringLiteral("F"));
        std::vector<std::vector<int>> chiamati(Consoles);
        std::atomic<int> falliti{0};
        std::vector<std::thread> fili;
        for (int i = 0; i < Consoles; ++i) {
            fili.emplace_back([&, i] {
                for (int k = 0; k < Chiamate; ++k) {
                    try {
                        SeguiEAggiornaDisplay([&](const QString& letto) {
                            const int prossimo = letto.toInt() + 1;
                            chiamati[i].push_back(prossimo);
                            // The console's own work between the read and the write.
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            return std::optional<ScritturaDisplay>(
                                ScritturaDisplay{QVariant::fromValue<qint32>(prossimo), qint16(3),
                                                 QStringLiteral("F")});
                        });
                    } catch (const ErroreQvr& e) {
                        qWarning("%s", e.what());
                        ++falliti;
                    }
                }
            });
        }
        for (auto& f : fili)
            f.join();
        QCOMPARE(falliti.load(), 0);
        QSet<int> visti;
        for (const auto& v : chiamati)
            for (int n : v) {
                QVERIFY2(!visti.contains(n), qPrintable(QStringLiteral("doppio %1").arg(n)));
                visti.insert(n);
            }
        QCOMPARE(visti.size(), Consoles * Chiamate);
        QCOMPARE(LeggiNumeroDisplay(), QString::number(Consoles * Chiamate));
    }

    // The archive as the other programs make it.
    void archivioCompleto() {
        QTemporaryDir cartella;
        creaArchivio(cartella.path());
        PercorsoArchivi = cartella.path();
        const QString qvrb = cartella.path() + QStringLiteral("/QVRB.mdb");
        for (int n : {1, 10}) {
            NumeroPostazione = n;
            QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("0"));
            AggiornaDisplay(qint32(40 + n), qint16(3), QStringLiteral("F"));
            QCOMPARE(LeggiNumeroDisplay(), QString::number(40 + n));
        }
        NumeroPostazione = 4;
        AggiornaDisplay(99.0, qint16(1), QStringLiteral("F"));
        QCOMPARE(LeggiNumeroDisplay(), QStringLiteral("99"));
        QCOMPARE(interroga(qvrb, "SELECT NumeroA1 || StatoN1 || F1 FROM NumeriCode10").toString(),
                 QStringLiteral("503F"));
        QCOMPARE(interroga(qvrb, "SELECT NumeroA1 FROM NumeriCode2").toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDisplay)
#include "test_display.moc"
