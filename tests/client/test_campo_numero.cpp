// The number field: focus, key and paste rules.
#include "archive/errori.h"
#include "dialogs/campo_numero.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

using qvr::CampoNumero;

class TestCampoNumero : public QObject {
    Q_OBJECT

private:
    // A shown, active window holding the field and a second field to move the focus to.
    struct Finestra {
        QWidget finestra;
        CampoNumero* campo;
        QLineEdit* altro;
        explicit Finestra(const QString& riposo) {
            auto* layout = new QVBoxLayout(&finestra);
            altro = new QLineEdit(&finestra);
            campo = new CampoNumero(riposo, &finestra);
            campo->setObjectName(QStringLiteral("f"));
            layout->addWidget(altro);
            layout->addWidget(campo);
            finestra.show();
            QApplication::setActiveWindow(&finestra);
            if (!QTest::qWaitForWindowActive(&finestra))
                qWarning("window not active: focus checks will fail");
            altro->setFocus(Qt::OtherFocusReason);
        }
        void focalizza() {
            campo->setFocus(Qt::TabFocusReason);
            QCoreApplication::processEvents();
        }
    };

    static bool tuttoSelezionato(const QLineEdit* campo) {
        return campo->hasSelectedText() && campo->selectedText() == campo->text();
    }

private slots:
    void init() { QGuiApplication::clipboard()->clear(); }

    void cifraSostituisceIlTestoSelezionato_data() {
        QTest::addColumn<QString>("riposo");
        QTest::newRow("console") << QStringLiteral("00000");
        QTest::newRow("dialogo") << QStringLiteral("000");
    }
    void cifraSostituisceIlTestoSelezionato() {
        QFETCH(QString, riposo);
        Finestra w(riposo);
        QCOMPARE(w.campo->text(), riposo);
        w.focalizza();
        QVERIFY(w.campo->hasFocus());
        QVERIFY(tuttoSelezionato(w.campo));
        QTest::keyClick(w.campo, Qt::Key_7, Qt::NoModifier);
        QCOMPARE(w.campo->text(), QStringLiteral("7"));
    }

    void soloCifreEBackspace() {
        Finestra w(QStringLiteral("00000"));
        w.focalizza();
        QTest::keyClicks(w.campo, QStringLiteral("a1 b-2+,.;x3/e*E4"));
        QCOMPARE(w.campo->text(), QStringLiteral("1234"));
        QTest::keyClick(w.campo, Qt::Key_Backspace);
        QCOMPARE(w.campo->text(), QStringLiteral("123"));
        // Navigation keys keep working: the cursor moves and a digit goes in where it stands.
        QTest::keyClick(w.campo, Qt::Key_Home);
        QTest::keyClick(w.campo, Qt::Key_9);
        QCOMPARE(w.campo->text(), QStringLiteral("9123"));
        QTest::keyClick(w.campo, Qt::Key_Delete);
        QCOMPARE(w.campo->text(), QStringLiteral("923"));
        // Non-ASCII digits are not digits of this field.
        for (QChar c : {QChar(0x0663), QChar(0x00B2), QChar(0x00E8)}) {
            QKeyEvent evento(QEvent::KeyPress, c.unicode(), Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(w.campo, &evento);
        }
        QCOMPARE(w.campo->text(), QStringLiteral("923"));
    }

    void invioEmetteESelezionaDiNuovo() {
        Finestra w(QStringLiteral("00000"));
        w.focalizza();
        QSignalSpy spia(w.campo, &CampoNumero::invio);
        QTest::keyClicks(w.campo, QStringLiteral("42"));
        QTest::keyClick(w.campo, Qt::Key_Return);
        QCOMPARE(spia.count(), 1);
        QCOMPARE(w.campo->text(), QStringLiteral("42"));
        QVERIFY(tuttoSelezionato(w.campo));
        QTest::keyClick(w.campo, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(spia.count(), 2);
        QCOMPARE(w.campo->text(), QStringLiteral("42"));
        // The key goes no further than the field.
        QVERIFY(tuttoSelezionato(w.campo));
        QTest::keyClick(w.campo, Qt::Key_5);
        QCOMPARE(w.campo->text(), QStringLiteral("5"));
    }

    void invioConCampoDistrutto() {
        // A handler of invio() may close and destroy the field's window.
        auto* w = new Finestra(QStringLiteral("000"));
        w->focalizza();
        QPointer<CampoNumero> campo(w->campo);
        connect(w->campo, &CampoNumero::invio, this, [&] {
            delete w;
            w = nullptr;
        });
        QTest::keyClick(campo, Qt::Key_Return);
        QVERIFY(campo.isNull());
    }

    void decimaCifraRifiutata() {
        Finestra w(QStringLiteral("00000"));
        w.focalizza();
        QTest::keyClicks(w.campo, QStringLiteral("1234567890"));
        QCOMPARE(w.campo->text(), QStringLiteral("123456789"));
    }

    void appuntiSvuotatiAlFuoco() {
        Finestra w(QStringLiteral("00000"));
        QGuiApplication::clipboard()->setText(QStringLiteral("12345"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12345"));
        w.focalizza();
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
        // Each new focus clears it again.
        w.altro->setFocus(Qt::TabFocusReason);
        QGuiApplication::clipboard()->setText(QStringLiteral("777"));
        w.focalizza();
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
    }

    void incollaSoloCifre() {
        Finestra w(QStringLiteral("00000"));
        w.focalizza();
        QGuiApplication::clipboard()->setText(QStringLiteral("12a"));
        QTest::keyClick(w.campo, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.campo->text(), QStringLiteral("00000"));
        QGuiApplication::clipboard()->setText(QStringLiteral("-5"));
        w.campo->paste();
        QCOMPARE(w.campo->text(), QStringLiteral("00000"));
        QGuiApplication::clipboard()->setText(QStringLiteral("1234567890"));
        w.campo->selectAll();
        w.campo->paste();
        QVERIFY(w.campo->text().size() <= 9);
        QVERIFY(w.campo->text() == QStringLiteral("00000") ||
                w.campo->text() == QStringLiteral("123456789"));
        QGuiApplication::clipboard()->setText(QStringLiteral("31"));
        w.campo->selectAll();
        QTest::keyClick(w.campo, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.campo->text(), QStringLiteral("31"));
    }

    void metodoDiInputSoloCifre() {
        Finestra w(QStringLiteral("000"));
        w.focalizza();
        QInputMethodEvent evento;
        evento.setCommitString(QStringLiteral("4x5 "));
        QCoreApplication::sendEvent(w.campo, &evento);
        QCOMPARE(w.campo->text(), QStringLiteral("45"));
        QInputMethodEvent lettere;
        lettere.setCommitString(QStringLiteral("abc"));
        QCoreApplication::sendEvent(w.campo, &lettere);
        QCOMPARE(w.campo->text(), QStringLiteral("45"));
    }

    void clicSelezionaTutto() {
        Finestra w(QStringLiteral("00000"));
        QVERIFY(w.altro->hasFocus());
        QGuiApplication::clipboard()->setText(QStringLiteral("9"));
        QTest::mouseClick(w.campo, Qt::LeftButton, Qt::NoModifier,
                          QPoint(3, w.campo->height() / 2));
        QCoreApplication::processEvents();
        QVERIFY(w.campo->hasFocus());
        QVERIFY(tuttoSelezionato(w.campo));
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
        QTest::keyClick(w.campo, Qt::Key_3);
        QCOMPARE(w.campo->text(), QStringLiteral("3"));
        // A click in a field that already has the focus places the cursor as usual.
        QTest::mouseClick(w.campo, Qt::LeftButton, Qt::NoModifier,
                          QPoint(1, w.campo->height() / 2));
        QVERIFY(!w.campo->hasSelectedText());
    }

    void tabSpostaIlFuoco() {
        Finestra w(QStringLiteral("00000"));
        w.focalizza();
        QTest::keyClick(w.campo, Qt::Key_Tab);
        QVERIFY(!w.campo->hasFocus());
        QCOMPARE(w.campo->text(), QStringLiteral("00000"));
    }

    void ripristina() {
        Finestra w(QStringLiteral("00000"));
        w.focalizza();
        QTest::keyClicks(w.campo, QStringLiteral("42"));
        w.campo->ripristina();
        QCOMPARE(w.campo->text(), QStringLiteral("00000"));
        QVERIFY(tuttoSelezionato(w.campo));
    }

    void valore() {
        QCOMPARE(CampoNumero::valoreDi(QStringLiteral("025")), 25);
        QCOMPARE(CampoNumero::valoreDi(QStringLiteral("000")), 0);
        QCOMPARE(CampoNumero::valoreDi(QString()), 0);
        QCOMPARE(CampoNumero::valoreDi(QStringLiteral("12a3")), 12);
        QCOMPARE(CampoNumero::valoreDi(QStringLiteral("999999999")), 999999999);
        QCOMPARE(CampoNumero::valoreDi(QStringLiteral("2147483647")), 2147483647);
        try {
            CampoNumero::valoreDi(QStringLiteral("2147483648"));
            QFAIL("a number beyond 32 bits was accepted");
        } catch (const qvr::ErroreQvr& e) {
            QCOMPARE(e.numero(), qvr::Err::Overflow);
        }
    }
};

QTEST_MAIN(TestCampoNumero)
#include "test_campo_numero.moc"
