// The message window and the always-on-top routine.

#include "app/globali.h"
#include "dialogs/msgform.h"
#include "dialogs/primo_piano.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace qvr;

namespace {

// What the test saw of a shown message window.
struct Visto {
    bool mostrata = false;
    QString titolo;
    QString intestazione;
    bool riga0Visibile = false;
    bool riga1Visibile = false;
    QString riga0;
    QString riga1;
    bool confermaVisibile = false;
    bool chiudiVisibile = false;
    bool pulsanteChiusura = true;
    bool apertaDopoEsc = false;
    bool apertaDopoChiusura = false;
};

// Once the modal message window is shown, records what it shows and presses one of its
// buttons (`pulsante` 0 or 1); after 5 s without a window, gives up.
void rispondiQuandoAppare(Visto* visto, int pulsante, bool provaEscEChiusura = false) {
    auto* timer = new QTimer;
    auto orologio = std::make_shared<QElapsedTimer>();
    orologio->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* m = qobject_cast<MsgForm*>(QApplication::activeModalWidget());
        if (!m || !m->isVisible()) {
            if (orologio->elapsed() > 5000) {
                timer->stop();
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        visto->mostrata = true;
        visto->titolo = m->windowTitle();
        visto->intestazione = m->findChild<QLabel*>(QStringLiteral("Label1"))->text();
        auto* r0 = m->findChild<QLabel*>(QStringLiteral("Label2_0"));
        auto* r1 = m->findChild<QLabel*>(QStringLiteral("Label2_1"));
        visto->riga0Visibile = r0->isVisible();
        visto->riga1Visibile = r1->isVisible();
        visto->riga0 = r0->text();
        visto->riga1 = r1->text();
        visto->confermaVisibile = m->findChild<QPushButton*>(QStringLiteral("PB1_1"))->isVisible();
        visto->chiudiVisibile = m->findChild<QPushButton*>(QStringLiteral("PB1_0"))->isVisible();
        visto->pulsanteChiusura = m->windowFlags().testFlag(Qt::WindowCloseButtonHint);
        if (provaEscEChiusura) {
            QTest::keyClick(m, Qt::Key_Escape);
            visto->apertaDopoEsc = m->isVisible();
            m->close();
            visto->apertaDopoChiusura = m->isVisible();
        }
        m->findChild<QPushButton*>(QStringLiteral("PB1_%1").arg(pulsante))->click();
    });
    timer->start(10);
}

} // namespace

class TestMsgForm : public QObject {
    Q_OBJECT

private slots:
    void init() { azzeraValoriGlobali(); }

    void statoInizialeEIntestazione() {
        QCOMPARE(RispostaMsg, qint16(0)); // nobody has answered yet in this run
        MsgForm m;
        QCOMPARE(m.windowTitle(), QStringLiteral(" "));
        QCOMPARE(m.Label1()->text(), QStringLiteral("Messaggio x te  da QUORVANE 3 (Client)"));
        QCOMPARE(m.Label2(0)->text(), QStringLiteral("Label2"));
        QCOMPARE(m.Label2(1)->text(), QStringLiteral("Label2"));
        QCOMPARE(m.PB1(0)->text(), QStringLiteral("C&hiudi"));
        QCOMPARE(m.PB1(1)->text(), QStringLiteral("&Conferma"));
        QVERIFY(!m.PB1(0)->isHidden());
        QVERIFY(m.PB1(1)->isHidden());
        QVERIFY(m.isModal());
        QVERIFY(!m.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(m.findChild<QWidget*>(QStringLiteral("Line1")));
    }

    void unaRigaSolaNascondeLaSeconda() {
        Visto visto;
        rispondiQuandoAppare(&visto, 0);
        MsgForm m;
        m.Label2(0)->setText(QStringLiteral("Selezionare un Percorso per gli archivi !"));
        QCOMPARE(m.exec(), 7);
        QVERIFY(visto.mostrata);
        QCOMPARE(visto.titolo, QStringLiteral(" "));
        QCOMPARE(visto.intestazione, QStringLiteral("Messaggio x te  da QUORVANE 3 (Client)"));
        QVERIFY(visto.riga0Visibile);
        QVERIFY(!visto.riga1Visibile);
        QCOMPARE(visto.riga0, QStringLiteral("Selezionare un Percorso per gli archivi !"));
        QVERIFY(!visto.confermaVisibile); // an information use offers only "C&hiudi"
        QVERIFY(visto.chiudiVisibile);
        QCOMPARE(RispostaMsg, qint16(7));
    }

    void rigaImpostataALabel2ENascosta() {
        Visto visto;
        rispondiQuandoAppare(&visto, 0);
        MsgForm m;
        m.Label2(0)->setText(QStringLiteral("Label2"));
        m.Label2(1)->setText(QStringLiteral("Seconda riga"));
        m.exec();
        QVERIFY(!visto.riga0Visibile);
        QVERIFY(visto.riga1Visibile);
        QCOMPARE(visto.riga1, QStringLiteral("Seconda riga"));
    }

    void domandaConfermaDa8PoiUsoSuccessivoRipartePulito() {
        Visto primo;
        rispondiQuandoAppare(&primo, 1);
        {
            MsgForm m;
            m.Label2(0)->setText(QStringLiteral("Azzerare il numero ?"));
            m.PB1(1)->setVisible(true);
            QCOMPARE(m.exec(), 8);
        }
        QVERIFY(primo.confermaVisibile);
        QCOMPARE(RispostaMsg, qint16(8));

        // The next use starts again from the initial state, and the answer stays 8 until a
        // button of the new window is pressed.
        Visto secondo;
        rispondiQuandoAppare(&secondo, 0);
        MsgForm m2;
        QVERIFY(m2.PB1(1)->isHidden());
        QCOMPARE(m2.Label2(0)->text(), QStringLiteral("Label2"));
        QCOMPARE(RispostaMsg, qint16(8));
        m2.Label2(0)->setText(QStringLiteral("Informazione"));
        m2.exec();
        QVERIFY(!secondo.confermaVisibile);
        QVERIFY(!secondo.riga1Visibile);
        QCOMPARE(RispostaMsg, qint16(7));
    }

    void escEChiusuraNonChiudonoLaDomanda() {
        RispostaMsg = 8;
        Visto visto;
        rispondiQuandoAppare(&visto, 0, true);
        MsgForm m;
        m.Label2(0)->setText(QStringLiteral("Domanda"));
        m.PB1(1)->setVisible(true);
        m.exec();
        QVERIFY(!visto.pulsanteChiusura);
        QVERIFY(visto.apertaDopoEsc);
        QVERIFY(visto.apertaDopoChiusura);
        QCOMPARE(RispostaMsg, qint16(7)); // answered by its button only
    }

    void primoPianoSoloConIlValoreVeroEsatto() {
        QWidget w;
        w.setGeometry(120, 140, 320, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect prima = w.geometry();

        QVERIFY(PrimoPiano(&w, -1) != 0);
        QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), prima);

        // 1 is not the true value: back to normal stacking.
        QCOMPARE(PrimoPiano(&w, 1), 0);
        QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), prima);

        QVERIFY(PrimoPiano(&w, -1) != 0);
        QCOMPARE(PrimoPiano(&w, 0), 0);
        QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(w.geometry(), prima);

        QCOMPARE(PrimoPiano(nullptr, -1), 0);
    }

    void primoPianoSuFinestraNascostaNonLaMostra() {
        QWidget w;
        w.resize(200, 100);
        QVERIFY(PrimoPiano(&w, -1) != 0);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.size(), QSize(200, 100));
    }
};

QTEST_MAIN(TestMsgForm)
#include "test_msgform.moc"
