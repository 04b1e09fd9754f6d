// The short form of the load program: ten stations drawing at once in single numbering while the
// kiosk issues tickets, and two consoles of one station pressing at the same instant.
#include "supporto.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

class TestCarico : public QObject {
    Q_OBJECT

    // On the server suite every run gets an archive of its own on the test server.
    QString esegui(QStringList argomenti, int* codice) {
        std::unique_ptr<qvr::test::DatabaseProva> db;
        if (qvr::test::suiteSulServer() && argomenti.size() > 1) {
            db = std::make_unique<qvr::test::DatabaseProva>();
            argomenti << QStringLiteral("--archivio") << db->uri();
        }
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(qvr::test::cartellaBuild() + QStringLiteral("/qvr-carico"), argomenti);
        if (!p.waitForFinished(300000)) {
            p.kill();
            p.waitForFinished();
        }
        *codice = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromLocal8Bit(p.readAll());
    }

private slots:
    void init() {
        if (qvr::test::suiteSulServer() && qvr::test::uriServerProva().isEmpty())
            QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova");
    }

    void singolaDieciPostazioni() {
        QTemporaryDir cartella;
        int codice = -1;
        const QString uscita =
            esegui({QStringLiteral("singola"), QStringLiteral("--stazioni"), QStringLiteral("10"),
                    QStringLiteral("--chiamate"), QStringLiteral("40"),
                    QStringLiteral("--cartella"), cartella.path()},
                   &codice);
        QVERIFY2(codice == 0, qPrintable(uscita));
        QVERIFY2(uscita.contains(QStringLiteral("numeri estratti due volte: 0, mancanti: 0, "
                                                "fuori sequenza: 0, Nr4All.txt: 400")),
                 qPrintable(uscita));
        QVERIFY2(uscita.contains(QStringLiteral("numeri chiamati prima del loro biglietto: 0")),
                 qPrintable(uscita));
        QVERIFY(uscita.contains(QStringLiteral("ESITO: OK")));
    }

    void standardDueConsoleStessaPostazione() {
        QTemporaryDir cartella;
        int codice = -1;
        const QString uscita =
            esegui({QStringLiteral("standard"), QStringLiteral("--stazioni"), QStringLiteral("3"),
                    QStringLiteral("--chiamate"), QStringLiteral("60"),
                    QStringLiteral("--cartella"), cartella.path()},
                   &codice);
        QVERIFY2(codice == 0, qPrintable(uscita));
        QVERIFY2(uscita.contains(QStringLiteral("numeri pubblicati due volte: 0, numeri distinti: "
                                                "180, NumeroA1 finale: 180")),
                 qPrintable(uscita));
    }

    // The short form of scripts/carico-server.sh: five offices (five databases) on one server,
    // drawing at once; every number exactly once in each office.
    void cinqueUfficiSulServer() {
        if (qvr::test::uriServerProva().isEmpty())
            QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova");
        if (qvr::test::suiteSulServer())
            QSKIP("già nella suite sui file: non si ripete");
        std::vector<std::unique_ptr<qvr::test::DatabaseProva>> uffici;
        std::vector<std::unique_ptr<QProcess>> processi;
        std::vector<QTemporaryDir> cartelle(5);
        for (int u = 0; u < 5; ++u) {
            uffici.push_back(std::make_unique<qvr::test::DatabaseProva>());
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(qvr::test::cartellaBuild() + QStringLiteral("/qvr-carico"),
                     {QStringLiteral("singola"), QStringLiteral("--stazioni"), QStringLiteral("10"),
                      QStringLiteral("--chiamate"), QStringLiteral("15"),
                      QStringLiteral("--cartella"), cartelle[u].path(),
                      QStringLiteral("--archivio"), uffici.back()->uri()});
            processi.push_back(std::move(p));
        }
        for (auto& p : processi) {
            QVERIFY(p->waitForFinished(300000));
            const QString uscita = QString::fromLocal8Bit(p->readAll());
            QVERIFY2(p->exitCode() == 0, qPrintable(uscita));
            QVERIFY2(uscita.contains(QStringLiteral("numeri estratti due volte: 0, mancanti: 0, "
                                                    "fuori sequenza: 0, Nr4All.txt: 150")),
                     qPrintable(uscita));
        }
    }

    void argomentiNonValidi() {
        int codice = -1;
        esegui({QStringLiteral("nessuno")}, &codice);
        QCOMPARE(codice, 2);
        esegui({QStringLiteral("singola"), QStringLiteral("--stazioni"), QStringLiteral("11")},
               &codice);
        QCOMPARE(codice, 2);
    }
};

QTEST_GUILESS_MAIN(TestCarico)
#include "test_carico.moc"
