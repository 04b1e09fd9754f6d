// Manual mode and the chosen number, previous number, reset, the number request dialog and
// closing the console.

#include "console_comune.h"
#include "dialogs/boxinputta.h"
#include "dialogs/campo_numero.h"
#include "launcher/apertura.h"

#include <QAction>
#include <QGroupBox>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>

using namespace qvr;
using namespace qvr::test;

namespace {
OpzioniArchivio opzioni(int stazione, const QString& modo, bool dopo99 = false) {
    OpzioniArchivio o;
    o.modi[stazione - 1] = modo;
    o.dopo99Standard = dopo99;
    o.dopo99Singola = dopo99;
    return o;
}
struct Record {
    int numero;
    int stato;
    QString flag;
    bool operator==(const Record& a) const {
        return numero == a.numero && stato == a.stato && flag == a.flag;
    }
};
Record record(const ConsoleProva& c) {
    const QString t = QStringLiteral("NumeriCode%1").arg(c.stazione);
    return {c.sql("QVRB.mdb", "select NumeroA1 from " + t).toInt(),
            c.sql("QVRB.mdb", "select StatoN1 from " + t).toInt(),
            c.sql("QVRB.mdb", "select F1 from " + t).toString()};
}
void impostaRecord(const ConsoleProva& c, int numero, int stato, const char* flag) {
    esegui(c.file("QVRB.mdb"), QStringLiteral("update NumeriCode%1 set NumeroA1=%2, StatoN1=%3, "
                                              "F1='%4'")
                                   .arg(c.stazione)
                                   .arg(numero)
                                   .arg(stato)
                                   .arg(QLatin1String(flag)));
}
int righe(const ConsoleProva& c) {
    return c.form->LB1()->topLevelItemCount();
}

// Looks for a modal window every 10 ms, `tentativi` times, records and closes it. What it finds
// outlives the object, so a look still pending never writes into a test that has moved on.
struct Osservatore {
    struct Esito {
        QString classe;
        QString modo;
        bool finito = false;
    };
    std::shared_ptr<Esito> esito = std::make_shared<Esito>();
    const QString& classe = esito->classe;
    const QString& modo = esito->modo;
    bool finito() const { return esito->finito; }
    void osserva(int tentativi = 100) { guarda(esito, tentativi); }

private:
    static void guarda(std::shared_ptr<Esito> esito, int tentativi) {
        QTimer::singleShot(10, [esito, tentativi] {
            QWidget* modale = QApplication::activeModalWidget();
            if (!modale) {
                if (tentativi > 0)
                    guarda(esito, tentativi - 1);
                else
                    esito->finito = true;
                return;
            }
            esito->classe = QString::fromLatin1(modale->metaObject()->className());
            if (auto* b = qobject_cast<boxinputta*>(modale))
                esito->modo = b->Label1()->text();
            esito->finito = true;
            modale->close();
        });
    }
};
} // namespace

class TestConsoleFunzioni : public QObject {
    Q_OBJECT

private slots:
    void modalitaManualeEdInvio() {
        ConsoleProva c(3);
        Form1& f = *c.form;
        f.show();
        QApplication::setActiveWindow(&f);
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.AK(5)->trigger();
        QVERIFY(!f.GB1()->isHidden());
        QVERIFY(f.f()->hasFocus());
        QCOMPARE(f.f()->selectedText(), QStringLiteral("00000"));
        // "7" typed over the selected "00000" replaces it; Enter calls 7.
        QTest::keyClicks(f.f(), QStringLiteral("7"));
        QCOMPARE(f.f()->text(), QStringLiteral("7"));
        QTest::keyClick(f.f(), Qt::Key_Return);
        QVERIFY(record(c) == (Record{7, 3, "T"}));
        QCOMPARE(f.Label1(1)->text(), QStringLiteral("7"));
        QCOMPARE(f.Label1(2)->text(), QStringLiteral("In corso..."));
        QCOMPARE(f.f()->text(), QStringLiteral("00000"));
        QCOMPARE(f.f()->selectedText(), QStringLiteral("00000"));
        QCOMPARE(righe(c), 1);

        // Letters and signs ignored, Backspace kept; "00042" + Enter.
        QTest::keyClicks(f.f(), QStringLiteral("4a-2 ."));
        QCOMPARE(f.f()->text(), QStringLiteral("42"));
        QTest::keyClick(f.f(), Qt::Key_Backspace);
        QCOMPARE(f.f()->text(), QStringLiteral("4"));
        f.f()->selectAll();
        QTest::keyClicks(f.f(), QStringLiteral("00042"));
        QTest::keyClick(f.f(), Qt::Key_Enter);
        QVERIFY(record(c) == (Record{42, 3, "T"}));
        QCOMPARE(f.Label1(1)->text(), QStringLiteral("42"));
        QCOMPARE(righe(c), 2);
        QCOMPARE(f.LB1()->topLevelItem(1)->text(0), QStringLiteral("42"));

        // No wrap on a chosen number, with the flag or without.
        f.f()->setText(QStringLiteral("120"));
        f.SelNum()->click();
        QCOMPARE(record(c).numero, 120);

        // AK6 hides the panel; the field keeps its text. The next call continues from 120.
        f.f()->setText(QStringLiteral("55"));
        f.AK(6)->trigger();
        QVERIFY(f.GB1()->isHidden());
        QCOMPARE(f.f()->text(), QStringLiteral("55"));
        f.Command1(0)->click();
        QVERIFY(record(c) == (Record{121, 3, "F"}));
        f.hide();
    }

    void numeroSceltoZeroEVuoto() {
        ConsoleProva c(3, {}, false);
        impostaRecord(c, 5, 2, "F");
        QVERIFY(c.carica());
        Form1& f = *c.form;
        f.AK(5)->trigger();
        NumeroChiamato = 9;
        f.f()->setText(QStringLiteral("00000"));
        f.SelNum()->click();
        QCOMPARE(NumeroChiamato, 0);
        QVERIFY(record(c) == (Record{5, 2, "F"}));
        QCOMPARE(f.f()->text(), QStringLiteral("00000"));
        QCOMPARE(righe(c), 0);
        // A later wait records 0.
        f.Command1(1)->click();
        QCOMPARE(f.LB1()->topLevelItem(0)->text(0), QStringLiteral("0"));
        // An empty field calls nothing and leaves NumeroChiamato alone.
        NumeroChiamato = 9;
        f.f()->clear();
        f.SelNum()->click();
        QCOMPARE(NumeroChiamato, 9);
        QCOMPARE(righe(c), 1);
        QCOMPARE(c.uscita.volte(), 0);
    }

    void numeroSceltoInSingola() {
        ConsoleProva c(3, opzioni(3, "SG"), false);
        c.scriviContatore("10\r\n");
        QVERIFY(c.carica());
        c.form->f()->setText(QStringLiteral("42"));
        NumeroChiamato = 3;
        c.form->ChiamaNumeroScelto();
        QCOMPARE(NumeroChiamato, 3);
        QVERIFY(record(c) == (Record{0, 1, "F"}));
        QCOMPARE(righe(c), 0);
    }

    void numeroPrecedente_data() {
        QTest::addColumn<QString>("mostrato");
        QTest::addColumn<bool>("dopo99");
        QTest::addColumn<int>("pubblicato"); // 0: nothing happens
        QTest::newRow("42") << "42" << false << 41;
        QTest::newRow("1 con giro") << "1" << true << 99;
        QTest::newRow("1 senza giro") << "1" << false << 0;
        QTest::newRow("0") << "0" << true << 0;
        QTest::newRow("025") << "025" << false << 24;
        QTest::newRow("Numero") << "Numero" << true << 0;
    }
    void numeroPrecedente() {
        QFETCH(QString, mostrato);
        QFETCH(bool, dopo99);
        QFETCH(int, pubblicato);
        ConsoleProva c(10, opzioni(10, "ST", dopo99), false);
        impostaRecord(c, 77, 2, "T");
        QVERIFY(c.carica());
        Form1& f = *c.form;
        f.Label1(1)->setText(mostrato); // the record is not read
        f.AK(1)->trigger();
        if (pubblicato) {
            QVERIFY(record(c) == (Record{pubblicato, 3, "F"}));
            QCOMPARE(f.Label1(1)->text(), QString::number(pubblicato));
            QCOMPARE(f.Label1(2)->text(), QStringLiteral("In corso..."));
        } else {
            QVERIFY(record(c) == (Record{77, 2, "T"}));
            QCOMPARE(f.Label1(1)->text(), mostrato);
        }
        QCOMPARE(righe(c), 0); // never a history entry
        QCOMPARE(messaggi::registro().size(), 0);
    }

    void precedenteRifiutato() {
        {
            ConsoleProva c(3);
            c.form->Label1(1)->setText(QStringLiteral("42"));
            c.form->AK(5)->trigger(); // manual mode
            c.form->AK(1)->trigger();
            QVERIFY(record(c) == (Record{0, 1, "F"}));
            QCOMPARE(NumeroCorrente, 42);
        }
        {
            ConsoleProva c(3, opzioni(3, "SG"));
            QVERIFY(!c.form->AK(1)->isEnabled());
            c.form->Label1(1)->setText(QStringLiteral("42"));
            c.form->ChiamaPrecedente();
            QCOMPARE(NumeroCorrente, 42);
            QVERIFY(record(c) == (Record{0, 1, "F"}));
        }
    }

    void azzeramento() {
        ConsoleProva c(3, {}, false);
        impostaRecord(c, 42, 3, "T");
        QVERIFY(c.carica());
        Form1& f = *c.form;
        NumeroCorrente = 11;
        NumeroChiamato = 12;
        f.AK(5)->trigger(); // also in manual mode, without a question
        f.AK(2)->trigger();
        QVERIFY(record(c) == (Record{0, 1, "F"}));
        QCOMPARE(f.Label1(1)->text(), QStringLiteral("0"));
        QCOMPARE(f.Label1(2)->text(), QStringLiteral("Assente..."));
        QCOMPARE(NumeroCorrente, 11);
        QCOMPARE(NumeroChiamato, 12);
        QCOMPARE(righe(c), 0);
        QCOMPARE(messaggi::registro().size(), 0);
        // The next call reads 0 and calls 1.
        f.Command1(0)->click();
        QCOMPARE(record(c).numero, 1);
    }

    void richiestaNumero() {
        {
            ConsoleProva c(3);
            Osservatore o;
            o.osserva();
            c.form->AK(3)->trigger();
            QCOMPARE(o.classe, QStringLiteral("boxinputta"));
            QCOMPARE(o.modo, QStringLiteral("Numerazione Standard"));
            // Created afresh each time: a second opening starts again from its first content.
            Osservatore o2;
            o2.osserva();
            c.form->AK(3)->trigger();
            QCOMPARE(o2.modo, QStringLiteral("Numerazione Standard"));
        }
        {
            ConsoleProva c(3, opzioni(3, "SG"));
            QVERIFY(c.form->AK(3)->isEnabled());
            Osservatore o;
            o.osserva();
            c.form->AK(3)->trigger();
            QCOMPARE(o.modo, QStringLiteral("Numerazione Singola"));
        }
        {
            // Refused in manual mode: no dialog.
            ConsoleProva c(3);
            c.form->AK(5)->trigger();
            Osservatore o;
            o.osserva(30);
            c.form->AK(3)->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(o.finito(), 10000); // every look made: no window
            QCOMPARE(o.classe, QString());
        }
    }

    void chiusuraStandard_data() {
        QTest::addColumn<int>("pulsante");
        QTest::addColumn<bool>("azzera");
        QTest::newRow("Conferma") << 1 << true;
        QTest::newRow("Chiudi") << 0 << false;
    }
    void chiusuraStandard() {
        QFETCH(int, pulsante);
        QFETCH(bool, azzera);
        ConsoleProva c(3, {}, false);
        impostaRecord(c, 42, 3, "F");
        QVERIFY(c.carica());
        Form1& f = *c.form;
        f.show();
        QTest::mouseClick(f.Label2(), Qt::LeftButton); // the history shown plays no part
        f.Command1(0)->click();
        QVERIFY(f.cronologia().aperta());
        QString domanda;
        rispondiFinestraModale(&f, pulsante, &domanda);
        f.close();
        QCOMPARE(domanda, QStringLiteral("Intendi azzerare il numero uscendo ?"));
        QCOMPARE(RispostaMsg, pulsante == 1 ? 8 : 7);
        if (azzera)
            QVERIFY(record(c) == (Record{0, 1, "F"}));
        else
            QVERIFY(record(c) == (Record{43, 3, "F"}));
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.uscita.ultimoCodice(), 0);
        QVERIFY(!f.cronologia().aperta()); // the history file closed, its line on disk
        QCOMPARE(c.cronologia(3).count('\n'), 1);
    }

    void chiusuraSingola() {
        ConsoleProva c(3, opzioni(3, "SG"), false);
        c.scriviContatore("10\r\n");
        impostaRecord(c, 42, 3, "F");
        QVERIFY(c.carica());
        Osservatore o;
        o.osserva(30);
        c.form->close();
        QTRY_VERIFY_WITH_TIMEOUT(o.finito(), 10000); // every look made
        QCOMPARE(o.classe, QString());               // no question
        QVERIFY(record(c) == (Record{42, 3, "F"}));
        QCOMPARE(c.contatore(), QByteArray("10\r\n"));
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.uscita.ultimoCodice(), 0);
    }

    void chiusuraConAzzeramentoFallito() {
        ConsoleProva c(3);
        esegui(c.file("QVRB.mdb"), "drop table NumeriCode3");
        rispondiFinestraModale(c.form.get(), 1);
        c.form->close();
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.uscita.ultimoCodice(), 1);
        QVERIFY(messaggi::registro().last().testo.contains(QStringLiteral("3078")));
        // A second close request while the first is handled is not a second ending.
        c.form->close();
        QCOMPARE(c.uscita.volte(), 1);
    }
};

QTEST_MAIN(TestConsoleFunzioni)
#include "test_console_funzioni.moc"
