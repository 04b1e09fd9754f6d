// The two call buttons in both numbering modes, the kiosk gate and the kiosk monitor's ticks.

#include "archive/contatore.h"
#include "archive/errori.h"
#include "console_comune.h"

#include <QPushButton>
#include <QTreeWidget>

using namespace qvr;
using namespace qvr::test;

namespace {
OpzioniArchivio opzioni(int stazione, const QString& modo, bool totem, bool dopo99 = false) {
    OpzioniArchivio o;
    o.modi[stazione - 1] = modo;
    o.totem = totem;
    o.dopo99Singola = dopo99;
    o.dopo99Standard = dopo99;
    return o;
}
const QDateTime Ore1435(QDate(2026, 12, 7), QTime(14, 35));

void premi(ConsoleProva& c, int indice) {
    c.form->Command1(indice)->click();
}
// One tick of Timer1, as the event loop would deliver it.
void tick(ConsoleProva& c) {
    QMetaObject::invokeMethod(c.form->Timer1(), "timeout", Qt::DirectConnection);
}
int righeLista(ConsoleProva& c) {
    return c.form->LB1()->topLevelItemCount();
}
} // namespace

class TestConsoleChiamate : public QObject {
    Q_OBJECT

private slots:
    void init() { contatore::impostaLimiteAttesa(300); }

    void avantiStandard_data() {
        QTest::addColumn<int>("nelRecord");
        QTest::addColumn<bool>("dopo99");
        QTest::addColumn<int>("chiamato");
        QTest::newRow("99 con giro") << 99 << true << 1;
        QTest::newRow("99 senza giro") << 99 << false << 100;
        QTest::newRow("150 con giro") << 150 << true << 151;
        QTest::newRow("0 dopo un azzeramento") << 0 << false << 1;
    }
    void avantiStandard() {
        QFETCH(int, nelRecord);
        QFETCH(bool, dopo99);
        QFETCH(int, chiamato);
        ConsoleProva c(3, opzioni(3, "ST", false, dopo99), false);
        esegui(c.file("QVRB.mdb"),
               QStringLiteral("update NumeriCode3 set NumeroA1=%1, StatoN1=1").arg(nelRecord));
        QVERIFY(c.carica());
        c.form->cronologia().impostaOrologio(orologioFisso({Ore1435}));
        premi(c, 0);
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), chiamato);
        QCOMPARE(c.sql("QVRB.mdb", "select StatoN1 from NumeriCode3").toInt(), 3);
        QCOMPARE(c.sql("QVRB.mdb", "select F1 from NumeriCode3").toString(), QStringLiteral("F"));
        QCOMPARE(c.form->Label1(1)->text(), QString::number(chiamato));
        QCOMPARE(c.form->Label1(2)->text(), QStringLiteral("In corso..."));
        QCOMPARE(NumeroChiamato, chiamato);
        QCOMPARE(righeLista(c), 1);
        QCOMPARE(c.cronologia(3),
                 QStringLiteral("\"%1\",\"14.35\",\"07/12/2026\",0\r\n").arg(chiamato).toLatin1());
        QCOMPARE(c.uscita.volte(), 0);
    }

    void avantiSegueIlRecord() {
        // Another console of the same station called meanwhile: the press continues from it.
        ConsoleProva c(2);
        premi(c, 0);
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("1"));
        esegui(c.file("QVRB.mdb"), "update NumeriCode2 set NumeroA1=20");
        premi(c, 0);
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("21"));
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode2").toInt(), 21);
        QCOMPARE(righeLista(c), 2);
    }

    void chioscoVuotoStandard() {
        ConsoleProva c(3, opzioni(3, "ST", true), false);
        esegui(c.file("Totem.mdb"), "update Numerazione set P3=27");
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=27, StatoN1=2, F1='T'");
        QVERIFY(c.carica());
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("0"));
        // Nobody waits: only the number caption follows the record.
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=30");
        premi(c, 0);
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("30"));
        QCOMPARE(c.form->Label1(2)->text(), QStringLiteral("Presente"));
        QCOMPARE(c.sql("QVRB.mdb", "select StatoN1 from NumeriCode3").toInt(), 2);
        QCOMPARE(c.sql("QVRB.mdb", "select F1 from NumeriCode3").toString(), QStringLiteral("T"));
        QCOMPARE(righeLista(c), 0);
        QCOMPARE(c.cronologia(3), QByteArray());
        // The tick counts again: P3 35 minus the 30 shown gives 5 and the call goes through.
        esegui(c.file("Totem.mdb"), "update Numerazione set P3=35");
        tick(c);
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("5"));
        premi(c, 0);
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), 31);
        QCOMPARE(righeLista(c), 1);
        // A standard call does not refresh the count.
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("5"));
        QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 0);
    }

    void chioscoSingola() {
        ConsoleProva c(4, opzioni(4, "SG", true), false);
        c.scriviContatore("7\r\n");
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=7");
        QVERIFY(c.carica());
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("0"));
        // Nobody waits according to P11Q: nothing is drawn.
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=10");
        premi(c, 0);
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("0"));
        QCOMPARE(c.contatore(), QByteArray("7\r\n"));
        QCOMPARE(righeLista(c), 0);
        // Another station's monitor wrote 3: the call is made, then the count is refreshed.
        esegui(c.file("Totem.mdb"), "update Numerazione set P11Q=3");
        premi(c, 0);
        QCOMPARE(c.contatore(), QByteArray("8\r\n"));
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("8"));
        QCOMPARE(c.form->Label1(2)->text(), QStringLiteral("In corso..."));
        QCOMPARE(c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle4").toInt(), 8);
        QCOMPARE(c.sql("QVRA.mdb", "select Stato from NumerazioneSingle4").toInt(), 3);
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("2"));
        QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 2);
        QCOMPARE(righeLista(c), 1);
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode4").toInt(), 0);
    }

    // One person waiting, two stations: station 5 has just called ticket 6 and its monitor has
    // not yet written the new count, so P11Q still says 1. A press here passes the P11Q gate
    // and must still call nobody: the gate is checked again under the counter's lock. The
    // refused press changes nothing, shows no message and adds no history entry.
    void chioscoSingolaUnoInCodaDuePostazioni() {
        ConsoleProva c(4, opzioni(4, "SG", true), false);
        c.scriviContatore("5\r\n");
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=6");
        QVERIFY(c.carica());
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("1"));
        c.scriviContatore("6\r\n"); // station 5 drew the one waiting
        messaggi::azzeraRegistro();
        premi(c, 0);
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("1")); // as P11Q says
        QCOMPARE(c.contatore(), QByteArray("6\r\n"));
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("5"));
        QCOMPARE(c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle4").toInt(), 0);
        QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 1);
        QCOMPARE(righeLista(c), 0);
        QCOMPARE(messaggi::registro().size(), 0);
        QCOMPARE(c.uscita.volte(), 0);
        // The next ticket: the press calls it.
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=7");
        premi(c, 0);
        QCOMPARE(c.contatore(), QByteArray("7\r\n"));
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("7"));
        QCOMPARE(c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle4").toInt(), 7);
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("0"));
        QCOMPARE(righeLista(c), 1);
    }

    void singolaSenzaChiosco() {
        ConsoleProva c(10, opzioni(10, "SG", false, true), false);
        c.scriviContatore("99\r\n");
        QVERIFY(c.carica());
        c.form->cronologia().impostaOrologio(orologioFisso({Ore1435}));
        premi(c, 0);
        QCOMPARE(c.contatore(), QByteArray("1\r\n"));
        QCOMPARE(NumeroCorrente, 0);
        QCOMPARE(c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle10").toInt(), 1);
        QCOMPARE(c.cronologia(10), QByteArray("\"1\",\"14.35\",\"07/12/2026\",0\r\n"));
    }

    void attesaStandard() {
        ConsoleProva c(3, {}, false);
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=42, StatoN1=3, F1='T'");
        QVERIFY(c.carica());
        c.form->cronologia().impostaOrologio(orologioFisso({Ore1435}));
        premi(c, 1); // first action of the run: the history records 0
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), 42);
        QCOMPARE(c.sql("QVRB.mdb", "select StatoN1 from NumeriCode3").toInt(), 2);
        QCOMPARE(c.sql("QVRB.mdb", "select F1 from NumeriCode3").toString(), QStringLiteral("F"));
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("42"));
        QCOMPARE(c.form->Label1(2)->text(), QStringLiteral("Attendere..."));
        QCOMPARE(c.cronologia(3), QByteArray("\"0\",\"14.35\",\"07/12/2026\",0\r\n"));
        // After a call the wait repeats the number of that call.
        premi(c, 0);
        premi(c, 1);
        QCOMPARE(c.form->LB1()->topLevelItem(2)->text(0), QStringLiteral("43"));
        QCOMPARE(c.sql("QVRB.mdb", "select StatoN1 from NumeriCode3").toInt(), 2);
    }

    void attesaSingola() {
        ConsoleProva c(4, opzioni(4, "SG", false), false);
        c.scriviContatore("12\r\n");
        QVERIFY(c.carica());
        premi(c, 1);
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QCOMPARE(m.testo, QStringLiteral("Funzione non abilitata con numerazione singola !"));
        QCOMPARE(m.titolo, QStringLiteral("QVR"));
        QVERIFY(m.icona == messaggi::Icona::Informazione);
        QCOMPARE(c.contatore(), QByteArray("12\r\n"));
        QCOMPARE(c.sql("QVRB.mdb", "select StatoN1 from NumeriCode4").toInt(), 1);
        QCOMPARE(righeLista(c), 1); // the history entry still follows
        QCOMPARE(c.form->LB1()->topLevelItem(0)->text(0), QStringLiteral("0"));
    }

    void contatoreInErroreAllaChiamata() {
        ConsoleProva c(4, opzioni(4, "SG", false), false);
        c.scriviContatore("12\r\n");
        QVERIFY(c.carica());
        QVERIFY(rimuoviFileArchivio(c.file("Nr4All.txt")));
        premi(c, 0);
        QCOMPARE(c.uscita.volte(), 0); // the program goes on
        QCOMPARE(messaggi::registro().size(), 1);
        QVERIFY(messaggi::registro().first().testo.startsWith(QStringLiteral("Errore n. 53\n")));
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("12"));
        QCOMPARE(righeLista(c), 0);
        QCOMPARE(c.cronologia(4), QByteArray());
        // A counter at the largest Long is refused with a message, nothing written.
        c.scriviContatore("2147483647\r\n");
        premi(c, 0);
        QCOMPARE(messaggi::registro().size(), 2);
        QVERIFY(messaggi::registro().last().testo.startsWith(QStringLiteral("Errore n. 6\n")));
        QCOMPARE(c.contatore(), QByteArray("2147483647\r\n"));
        QCOMPARE(righeLista(c), 0);
        // Repaired: the next press works.
        c.scriviContatore("20\r\n");
        premi(c, 0);
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("21"));
        QCOMPARE(c.uscita.volte(), 0);
    }

    void erroreArchivioAllaChiamata() {
        // The display table gone: central report, program ends, no history entry.
        ConsoleProva c(3);
        esegui(c.file("QVRB.mdb"), "drop table NumeriCode3");
        premi(c, 0);
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.uscita.ultimoCodice(), 1);
        QCOMPARE(righeLista(c), 0);
        QCOMPARE(c.cronologia(3), QByteArray());
    }

    void ticksDelMonitor() {
        {
            // Single numbering: a failing refresh keeps Label5 and reports the counter error.
            ConsoleProva c(5, opzioni(5, "SG", true), false);
            c.scriviContatore("52\r\n");
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=57, P5=99");
            QVERIFY(c.carica());
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("5"));
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=60");
            tick(c);
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("8"));
            QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 8);
            QVERIFY(rimuoviFileArchivio(c.file("Nr4All.txt")));
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=70");
            tick(c);
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("8"));
            QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 8);
            QCOMPARE(messaggi::registro().size(), 1);
            QCOMPARE(c.uscita.volte(), 0);
            // Totem.mdb unreachable: another failure, reported in its turn; the console goes on.
            c.scriviContatore("52\r\n");
            QVERIFY(rimuoviFileArchivio(c.file("Totem.mdb")));
            tick(c);
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("8"));
            QCOMPARE(messaggi::registro().size(), 2);
            QCOMPARE(c.uscita.volte(), 0);
        }
        {
            // Standard numbering: the tick runs only the standard count, nothing written.
            ConsoleProva c(5, opzioni(5, "ST", true), false);
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=57, P5=4");
            QVERIFY(c.carica());
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("4"));
            esegui(c.file("Totem.mdb"), "update Numerazione set P5=9");
            tick(c);
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("9"));
            QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 0);
        }
    }
};

QTEST_MAIN(TestConsoleChiamate)
#include "test_console_chiamate.moc"
