// Every program answers --help and --version on a machine without a display (a server room, a
// terminal over ssh): the version and the licence, and the help with the licence at its end.

#include "supporto.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

using qvr::test::cartellaBuild;

class TestInformazioni : public QObject {
    Q_OBJECT

private slots:
    void rispostaSenzaSchermo_data() {
        QTest::addColumn<QString>("programma");
        QTest::addColumn<QString>("opzione");
        for (const char* programma : {"qvr-client", "qvr-tabellone", "qvr-totem", "qvr-ufficio",
                                      "qvr-archivio", "qvr-carico"})
            for (const char* opzione : {"--help", "-h", "--version", "-v"})
                QTest::addRow("%s %s", programma, opzione) << programma << opzione;
    }

    void rispostaSenzaSchermo() {
        QFETCH(QString, programma);
        QFETCH(QString, opzione);
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        for (const char* variabile : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            ambiente.remove(QString::fromLatin1(variabile));
        QProcess p;
        p.setProcessEnvironment(ambiente);
        p.start(cartellaBuild() + QLatin1Char('/') + programma, {opzione});
        QVERIFY2(p.waitForFinished(20000), qPrintable(p.errorString()));
        const QString uscita = QString::fromUtf8(p.readAllStandardOutput());
        const QString errori = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
                 qPrintable(QStringLiteral("codice %1: %2").arg(p.exitCode()).arg(errori)));
        QVERIFY2(uscita.contains(QStringLiteral("Licenza GPL-3.0-or-later")), qPrintable(uscita));
        QVERIFY(uscita.contains(QStringLiteral("Copyright (C) 2026 QVR maintainers.")));
        if (opzione.startsWith(QStringLiteral("-v")) || opzione == QStringLiteral("--version")) {
            QCOMPARE(uscita.section(QLatin1Char('\n'), 0, 0),
                     programma + QStringLiteral(" ") + QStringLiteral(QVR_VERSIONE_PROVA));
        } else {
            QVERIFY2(uscita.contains(QStringLiteral("--version")), qPrintable(uscita));
            QVERIFY2(uscita.contains(programma), qPrintable(uscita));
        }
    }
};

QTEST_GUILESS_MAIN(TestInformazioni)
#include "test_informazioni.moc"
