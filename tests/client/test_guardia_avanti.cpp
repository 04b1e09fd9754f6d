// The guard of " Avanti     " against a second press that comes too soon: by itself on a plain
// button with a clock of the test's, then on the console, where a double click calls one number.

#include "console/guardia_pressione.h"
#include "console_comune.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>

using namespace qvr;
using namespace qvr::test;

namespace {
// The guards' clock, moved by the test.
qint64 g_ora = 0;

// The second press of a double click as the window system gives it: a press, the double-click
// event, the release.
void secondaDelDoppio(QPushButton* b) {
    QTest::mousePress(b, Qt::LeftButton);
    const QPointF centro = QRectF(b->rect()).center();
    QMouseEvent doppio(QEvent::MouseButtonDblClick, centro, b->mapToGlobal(centro), Qt::LeftButton,
                       Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(b, &doppio);
    QTest::mouseRelease(b, Qt::LeftButton);
}

// One input on the guarded button at a time on the clock: "clic", "doppio" (the second press of
// a double click), "spazio", "invio", "ripeti" (Enter held: an auto-repeated press), "altro"
// (another control used).
void esegui(QPushButton& b, GuardiaPressione& g, const QString& azione) {
    if (azione == QLatin1String("clic")) {
        QTest::mouseClick(&b, Qt::LeftButton);
    } else if (azione == QLatin1String("doppio")) {
        secondaDelDoppio(&b);
    } else if (azione == QLatin1String("spazio")) {
        QTest::keyClick(&b, Qt::Key_Space);
    } else if (azione == QLatin1String("invio")) {
        QTest::keyClick(&b, Qt::Key_Return);
    } else if (azione == QLatin1String("ripeti")) {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(&b, &e);
    } else if (azione == QLatin1String("altro")) {
        g.azzera();
    }
}
} // namespace

using Passi = QList<QPair<int, QString>>; // (ms on the clock, input)

class TestGuardiaAvanti : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        GuardiaPressione::impostaOrologio([] { return g_ora; });
    }
    void cleanupTestCase() { GuardiaPressione::impostaOrologio({}); }

    void pressioni_data() {
        QTest::addColumn<Passi>("passi");
        QTest::addColumn<int>("clic");
        using P = Passi;
        const QString c = QStringLiteral("clic");
        QTest::newRow("doppio clic") << P{{0, c}, {80, QStringLiteral("doppio")}} << 1;
        QTest::newRow("seconda pressione a 120 ms") << P{{0, c}, {120, c}} << 1;
        QTest::newRow("appena dentro la guardia") << P{{0, c}, {299, c}} << 1;
        QTest::newRow("appena fuori") << P{{0, c}, {300, c}} << 2;
        QTest::newRow("pressioni volute") << P{{0, c}, {450, c}, {900, c}} << 3;
        // Counted from the press taken: a third press after the guard of the first is taken.
        QTest::newRow("tre ravvicinate") << P{{0, c}, {200, c}, {350, c}} << 2;
        QTest::newRow("spazio due volte")
            << P{{0, QStringLiteral("spazio")}, {150, QStringLiteral("spazio")}} << 1;
        QTest::newRow("invio tenuto") << P{{0, QStringLiteral("invio")},
                                           {500, QStringLiteral("ripeti")},
                                           {530, QStringLiteral("ripeti")},
                                           {1000, QStringLiteral("ripeti")}}
                                      << 1;
        QTest::newRow("un altro comando in mezzo")
            << P{{0, c}, {100, QStringLiteral("altro")}, {150, c}} << 2;
    }
    void pressioni() {
        QFETCH(Passi, passi);
        QFETCH(int, clic);
        QWidget w;
        auto* b = new QPushButton(QStringLiteral(" Avanti     "), &w);
        b->setAutoDefault(true);
        int premuto = 0;
        connect(b, &QPushButton::clicked, &w, [&] { ++premuto; });
        auto* g = new GuardiaPressione(b);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        g_ora = 10000;
        for (const auto& [ms, azione] : passi) {
            g_ora = 10000 + ms;
            esegui(*b, *g, azione);
        }
        QCOMPARE(premuto, clic);
        // The program's own press is never dropped.
        b->click();
        QCOMPARE(premuto, clic + 1);
    }

    void doppioClicSullaConsole() {
        ConsoleProva c(4);
        QVERIFY(c.caricato);
        c.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(c.form.get()));
        QPushButton* avanti = c.form->Command1(0);
        auto numero = [&] { return c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode4").toInt(); };
        const int prima = numero();
        g_ora = 50000;
        QTest::mouseClick(avanti, Qt::LeftButton);
        g_ora += 90;
        secondaDelDoppio(avanti);
        g_ora += 60;
        QTest::mouseClick(avanti, Qt::LeftButton); // a bounce of the mouse button
        QCOMPARE(numero(), prima + 1);
        QCOMPARE(c.form->LB1()->topLevelItemCount(), 1);
        // "Attendere" in between: the next "Avanti" is deliberate, however soon.
        g_ora += 50;
        QTest::mouseClick(c.form->Command1(1), Qt::LeftButton);
        QTest::mouseClick(avanti, Qt::LeftButton);
        QCOMPARE(numero(), prima + 2);
        // A press after the guard is a new call.
        g_ora += GuardiaPressione::IntervalloMs;
        QTest::mouseClick(avanti, Qt::LeftButton);
        QCOMPARE(numero(), prima + 3);
        QCOMPARE(c.uscita.volte(), 0);
    }
};

QTEST_MAIN(TestGuardiaAvanti)
#include "test_guardia_avanti.moc"
