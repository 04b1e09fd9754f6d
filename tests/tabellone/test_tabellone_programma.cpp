// The board as a program: the WAV render checked with sox, boards in their own processes
// showing every call of station processes once and in order, and the board painted at
// 1920x1080 with its big number where a customer looks; the boards and the stations on either
// engine (QVR_MOTORE=server: the archive on the test server).
#include "supporto.h"

#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "finestre/campo_archivio.h"
#include "finestre/messaggi.h"
#include "tabellone/finestra.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace qvr;
using namespace qvr::tabellone;
using qvr::test::scriviDisplay;

namespace {
const QString Tabellone = QStringLiteral(QVR_TEST_BIN_DIR "/qvr-tabellone");
const QString Stazione = QStringLiteral(QVR_TEST_BIN_DIR "/tests/tabellone_stazione");

double valoreSox(const QString& testo, const QString& voce) {
    const QRegularExpression r(QRegularExpression::escape(voce) + QStringLiteral(R"(:\s*(\S+))"));
    const auto m = r.match(testo);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}
} // namespace

class TestTabelloneProgramma : public QObject {
    Q_OBJECT
private slots:
    void wav();
    void processi_data();
    void processi();
    void schermata();
    void primaDellaPrimaChiamata();
    void finestraImpostazioni_data();
    void finestraImpostazioni();
};

void TestTabelloneProgramma::wav() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("annuncio.wav"));
    QCOMPARE(QProcess::execute(Tabellone, {QStringLiteral("--wav"), file, QStringLiteral("57"),
                                           QStringLiteral("3")}),
             0);
    QProcess sox;
    sox.start(QStringLiteral("sox"), {file, QStringLiteral("-n"), QStringLiteral("stat")});
    QVERIFY(sox.waitForFinished(20000));
    const QString stat = QString::fromUtf8(sox.readAllStandardError());
    const double durata = valoreSox(stat, QStringLiteral("Length (seconds)"));
    const double rms = valoreSox(stat, QStringLiteral("RMS     amplitude"));
    QVERIFY2(durata >= 1.0 && durata <= 6.0, qPrintable(stat));
    QVERIFY2(rms > 0.02, qPrintable(stat));
    // A wrong command line writes nothing.
    const QString altro = dir.filePath(QStringLiteral("no.wav"));
    QCOMPARE(QProcess::execute(Tabellone, {QStringLiteral("--wav"), altro, QStringLiteral("5"),
                                           QStringLiteral("11")}),
             2);
    QVERIFY(!QFile::exists(altro));
}

void TestTabelloneProgramma::processi_data() {
    QTest::addColumn<int>("Tabelloni");
    QTest::addColumn<int>("Stazioni");
    QTest::addColumn<int>("Chiamate");
    QTest::addColumn<int>("pausa"); // ms between two calls of a station
    QTest::newRow("due tabelloni, quattro postazioni") << 2 << 4 << 15 << 250;
    // Two deliberate presses of a person, in quick succession (the poll's own rate is checked by
    // the model's test, where no other process competes for the processor).
    QTest::newRow("chiamate ogni 150 ms") << 1 << 2 << 12 << 150;
}

void TestTabelloneProgramma::processi() {
    QFETCH(int, Tabelloni);
    QFETCH(int, Stazioni);
    QFETCH(int, Chiamate);
    QFETCH(int, pausa);
    const test::AmbienteProva amb;
    const QDir dir(amb.cartella());
    const QString archivio = amb.archivio();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    std::vector<std::unique_ptr<QProcess>> tabelloni;
    for (int t = 0; t < Tabelloni; ++t) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(Tabellone, {QStringLiteral("--finestra"), QStringLiteral("--archivio"), archivio,
                             QStringLiteral("--registro"),
                             dir.filePath(QStringLiteral("registro%1.txt").arg(t))});
        QVERIFY(p->waitForStarted());
        tabelloni.push_back(std::move(p));
    }
    // Ready when every board shows a call of station 10, which the test makes until they do.
    auto registro = [&](int t) {
        QFile f(dir.filePath(QStringLiteral("registro%1.txt").arg(t)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    auto pronti = [&] {
        for (int t = 0; t < Tabelloni; ++t)
            if (!registro(t).startsWith("10 "))
                return false;
        return true;
    };
    for (int n = 1; n <= 150 && !pronti(); ++n) {
        scriviDisplay(archivio, 10, n);
        QTest::qWait(100);
    }
    QVERIFY(pronti());
    std::vector<std::unique_ptr<QProcess>> stazioni;
    for (int s = 1; s <= Stazioni; ++s) {
        auto p = std::make_unique<QProcess>();
        p->start(Stazione,
                 {archivio, QString::number(s), QString::number(Chiamate), QString::number(pausa)});
        QVERIFY(p->waitForStarted());
        stazioni.push_back(std::move(p));
    }
    for (auto& p : stazioni) {
        QVERIFY(p->waitForFinished(30000));
        QCOMPARE(p->exitCode(), 0);
    }
    QTest::qWait(800);
    for (int t = 0; t < Tabelloni; ++t) {
        QCOMPARE(tabelloni[t]->state(), QProcess::Running); // never left on its own
        tabelloni[t]->terminate();
        QVERIFY(tabelloni[t]->waitForFinished(5000));
        QMap<int, QList<int>> visti;
        for (const QByteArray& riga : registro(t).split('\n')) {
            const QList<QByteArray> p = riga.split(' ');
            if (p.size() == 2)
                visti[p[0].toInt()] << p[1].toInt();
        }
        QList<int> attesi;
        for (int i = 1; i <= Chiamate; ++i)
            attesi << i;
        for (int s = 1; s <= Stazioni; ++s) {
            QCOMPARE(visti.value(s), attesi);
        }
    }
    // Nothing of the boards' in the archive folder.
    if (!test::suiteSulServer())
        QCOMPARE(QDir(archivio).entryList(QDir::Files).size(), 6);
}

void TestTabelloneProgramma::schermata() {
    const test::AmbienteProva amb;
    qputenv("XDG_CONFIG_HOME", amb.cartella().toUtf8());
    const QString archivio = amb.archivio();
    Impostazioni imp;
    imp.archivio = archivio;
    imp.voce = false;
    FinestraTabellone f(imp);
    f.resize(1920, 1080);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.avvia();
    QTRY_VERIFY(f.sorvegliante()->letto()); // the starting point: what follows is a call
    scriviDisplay(archivio, 4, 57);
    QTRY_COMPARE_WITH_TIMEOUT(f.etichettaNumero()->text(), QStringLiteral("57"), 3000);
    QCOMPARE(f.etichettaNumero()->accessibleName(),
             QStringLiteral("Ultima chiamata: numero 57, Postazione 4"));
    QTest::qWait(100);
    const QImage img = f.grab().toImage();
    QCOMPARE(img.size(), QSize(1920, 1080));
    // The big number takes a quarter of the screen's height at least, and its glyphs are there:
    // dark strokes on the highlighted panel, in a good share of the label's area.
    const QRect r(f.etichettaNumero()->mapTo(&f, QPoint(0, 0)), f.etichettaNumero()->size());
    QVERIFY2(r.height() >= 270, qPrintable(QString::number(r.height())));
    int scuri = 0, chiari = 0;
    for (int y = r.top(); y < r.bottom(); y += 2)
        for (int x = r.left(); x < r.right(); x += 2) {
            const QColor c = img.pixelColor(x, y);
            if (c.lightness() < 70)
                ++scuri;
            else if (c.red() > 200 && c.green() > 150)
                ++chiari;
        }
    const int totale = (r.height() / 2) * (r.width() / 2);
    QVERIFY2(scuri > totale / 12 && chiari > totale / 3,
             qPrintable(QStringLiteral("%1 %2 %3").arg(scuri).arg(chiari).arg(totale)));
    // The tile of station 4 tells a screen reader its number.
    bool trovata = false;
    for (QWidget* w : f.findChildren<QWidget*>())
        trovata = trovata ||
                  w->accessibleName() == QStringLiteral("Postazione 4: numero 57, In corso...");
    QVERIFY(trovata);
    QVERIFY(f.testoBanner().isEmpty());
}

// A new board: no archive set says so and how to set it; before the first call the big panel
// says so in words (no white bar); the settings window's archive field shows its whole hint.
void TestTabelloneProgramma::primaDellaPrimaChiamata() {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    for (const QSize schermo : {QSize(1280, 720), QSize(1920, 1080)}) {
        Impostazioni imp;
        imp.voce = false;
        FinestraTabellone f(imp);
        f.resize(schermo);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.avvia();
        QTest::qWait(200);
        const QString banner = f.testoBanner();
        QVERIFY2(banner.contains(QStringLiteral("Archivio non impostato")) &&
                     banner.contains(QStringLiteral("F2")) &&
                     !banner.contains(QStringLiteral("3024")),
                 qPrintable(banner));
        QCOMPARE(f.etichettaNumero()->text(), QStringLiteral("Nessuna chiamata"));
        // No bar of white where the number will be: only the muted words.
        const QImage img = f.grab().toImage();
        const QRect r(f.etichettaNumero()->mapTo(&f, QPoint(0, 0)), f.etichettaNumero()->size());
        int bianchi = 0, scritti = 0;
        for (int y = r.top(); y < r.bottom(); ++y)
            for (int x = r.left(); x < r.right(); ++x) {
                const QColor c = img.pixelColor(x, y);
                bianchi += c.lightness() > 235;
                scritti += c.lightness() > 130;
            }
        QVERIFY2(
            bianchi < r.width() * r.height() / 1000 && scritti > r.width() * r.height() / 100,
            qPrintable(
                QStringLiteral("%1 %2 %3").arg(bianchi).arg(scritti).arg(r.width() * r.height())));
    }
    FinestraImpostazioni impostazioni(Impostazioni{});
    impostazioni.show();
    QVERIFY(QTest::qWaitForWindowExposed(&impostazioni));
    QLineEdit* campo = nullptr;
    for (QLineEdit* e : impostazioni.findChildren<QLineEdit*>())
        if (e->accessibleName() == QStringLiteral("Cartella dell'archivio"))
            campo = e;
    QVERIFY(campo);
    QVERIFY(campo->text().isEmpty());
    const int suggerimento = campo->fontMetrics().horizontalAdvance(campo->placeholderText());
    QVERIFY2(campo->width() - 8 >= suggerimento,
             qPrintable(QStringLiteral("%1 %2").arg(campo->width()).arg(suggerimento)));
}

void TestTabelloneProgramma::finestraImpostazioni_data() {
    QTest::addColumn<QString>("scritto");
    QTest::addColumn<bool>("salvato");
    QTest::newRow("cartella") << "/srv/qvr" << true;
    QTest::newRow("server") << "postgresql://qvr@127.0.0.1:1/ufficio1" << true;
    QTest::newRow("porta non numerica") << "postgresql://srv:x/u" << false;
}

void TestTabelloneProgramma::finestraImpostazioni() {
    // F2 opens the settings; a server address is checked before it is saved.
    QFETCH(QString, scritto);
    QFETCH(bool, salvato);
    // The settings' folder is taken once per process: one for every row, the file removed.
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QFile::remove(Impostazioni::percorsoFile());
    messaggi::azzeraRegistro();
    messaggi::impostaRispostaAutomatica(true);
    FinestraTabellone tabellone(Impostazioni{});
    bool aperta = false;
    QTimer::singleShot(0, [&] {
        auto* f = qobject_cast<FinestraImpostazioni*>(QApplication::activeModalWidget());
        QVERIFY(f);
        aperta = true;
        f->campoArchivio()->testo()->setText(scritto);
        f->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(f->isVisible(), !salvato);
        if (!salvato)
            f->reject();
    });
    QTest::keyClick(&tabellone, Qt::Key_F2);
    messaggi::impostaRispostaAutomatica(false);
    QVERIFY(aperta);
    QCOMPARE(messaggi::registro().size(), salvato ? 0 : 1);
    if (!salvato)
        QVERIFY(messaggi::registro()[0].testo.startsWith(archivio_campo::TestoServerNonValido));
    QCOMPARE(Impostazioni::carica().archivio, salvato ? scritto : QString());
}

QTEST_MAIN(TestTabelloneProgramma)
#include "test_tabellone_programma.moc"
