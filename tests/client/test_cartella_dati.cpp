// The installed client's working directory: the user's data folder, entered only when the
// program runs from its installed folder, created on the first start, kept with its files, and a
// clear error number when it cannot be made.

#include "supporto.h"

#include "app/cartella_dati.h"
#include "archive/errori.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace qvr;
using qvr::test::scriviFile;

class TestCartellaDati : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_vecchia = QDir::currentPath();
        m_xdg = qgetenv("XDG_DATA_HOME");
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        QVERIFY(QDir().mkpath(m_tmp->filePath("usr/bin")));
        QVERIFY(QDir().mkpath(m_tmp->filePath("build")));
        QVERIFY(QFile::link(m_tmp->filePath("usr/bin"), m_tmp->filePath("bin")));
    }
    void cleanup() {
        QDir::setCurrent(m_vecchia);
        qputenv("XDG_DATA_HOME", m_xdg);
        m_tmp.reset();
    }

    // Where the program runs from decides whether the working directory changes.
    void soloDallaCartellaInstallata_data() {
        QTest::addColumn<QString>("programma");
        QTest::addColumn<QString>("installata");
        QTest::addColumn<bool>("entra");
        QTest::newRow("installato") << "usr/bin"
                                    << "usr/bin" << true;
        QTest::newRow("attraverso un collegamento") << "bin"
                                                    << "usr/bin" << true;
        QTest::newRow("cartella di costruzione") << "build"
                                                 << "usr/bin" << false;
        QTest::newRow("nessuna cartella installata") << "usr/bin"
                                                     << "" << false;
        QTest::newRow("cartella installata inesistente") << "usr/bin"
                                                         << "opt/bin" << false;
    }
    void soloDallaCartellaInstallata() {
        QFETCH(QString, programma);
        QFETCH(QString, installata);
        QFETCH(bool, entra);
        const QString dati = m_tmp->filePath("casa/.local/share");
        qputenv("XDG_DATA_HOME", dati.toUtf8());
        QDir::setCurrent(m_tmp->path());
        const QString prima = QDir::currentPath();

        const QString cartella =
            entraInCartellaDati(m_tmp->filePath(programma),
                                installata.isEmpty() ? QString() : m_tmp->filePath(installata));
        if (entra) {
            QCOMPARE(cartella, dati + "/qvr-client");
            QVERIFY(QFileInfo(cartella).isDir());
            QCOMPARE(QDir::currentPath(), QFileInfo(cartella).canonicalFilePath());
        } else {
            QVERIFY(cartella.isEmpty());
            QCOMPARE(QDir::currentPath(), prima);
            QVERIFY(!QFileInfo::exists(dati));
        }
    }

    // The settings file and the history written by an earlier run stay and are found again.
    void fileDellUtenteConservati() {
        const QString dati = m_tmp->filePath("dati");
        qputenv("XDG_DATA_HOME", dati.toUtf8());
        const QString cartella =
            entraInCartellaDati(m_tmp->filePath("usr/bin"), m_tmp->filePath("usr/bin"));
        scriviFile("percorsi.txt", "\"/srv/code\",3\r\n");
        scriviFile("Cronologia-03.txt", "\"7\",\"09.15\",\"08/12/2026\",0\r\n");
        QDir::setCurrent(m_tmp->path());

        QCOMPARE(entraInCartellaDati(m_tmp->filePath("usr/bin"), m_tmp->filePath("usr/bin")),
                 cartella);
        QCOMPARE(qvr::test::contenuto("percorsi.txt"), QByteArray("\"/srv/code\",3\r\n"));
        QVERIFY(QFile::exists("Cronologia-03.txt"));
    }

    // A data folder that cannot be made: its number, the folder as detail, the directory kept.
    void cartellaImpossibile_data() {
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<int>("numero");
        QTest::newRow("sotto un file") << "file/share" << Err::PercorsoNonTrovato;
        QTest::newRow("il nome è un file") << "occupata" << Err::PercorsoNonTrovato;
        QTest::newRow("nome troppo lungo") << QString(300, QLatin1Char('n')) << Err::ErroreIO;
    }
    void cartellaImpossibile() {
        QFETCH(QString, xdg);
        QFETCH(int, numero);
        scriviFile(m_tmp->filePath("file"), "x");
        QVERIFY(QDir().mkpath(m_tmp->filePath("occupata")));
        scriviFile(m_tmp->filePath("occupata/qvr-client"), "x");
        qputenv("XDG_DATA_HOME", m_tmp->filePath(xdg).toUtf8());
        QDir::setCurrent(m_tmp->path());
        const QString prima = QDir::currentPath();
        QString dettaglio;
        QCOMPARE(qvr::test::numeroErrore(
                     [this] {
                         entraInCartellaDati(m_tmp->filePath("usr/bin"),
                                             m_tmp->filePath("usr/bin"));
                     },
                     &dettaglio),
                 numero);
        QVERIFY2(dettaglio.endsWith("/qvr-client"), qPrintable(dettaglio));
        QCOMPARE(QDir::currentPath(), prima);
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_vecchia;
    QByteArray m_xdg;
};

QTEST_GUILESS_MAIN(TestCartellaDati)
#include "test_cartella_dati.moc"
