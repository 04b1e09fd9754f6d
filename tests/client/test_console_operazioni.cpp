// The console's archive work without a window: caption values, the single-numbering draw, the
// kiosk counts and the standard presses; and several stations drawing at once.

#include "app/globali.h"
#include "archive/contatore.h"
#include "archive/errori.h"
#include "console/operazioni.h"
#include "supporto.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <limits>

using namespace qvr;
using namespace qvr::test;
namespace op = qvr::operazioni;

namespace {
void scriviContatore(const AmbienteProva& amb, const QByteArray& riga) {
    scriviContatoreGrezzo(amb.file(QStringLiteral("Nr4All.txt")), riga);
}
QByteArray leggiContatore(const AmbienteProva& amb) {
    const QByteArray c = contatoreGrezzo(amb.file(QStringLiteral("Nr4All.txt")));
    return c == "<mancante>" ? QByteArray("<assente>") : c;
}
void prepara(const AmbienteProva& amb, int stazione) {
    PercorsoArchivi = amb.archivio();
    NumeroPostazione = stazione;
    PostazioneTesto = QString::number(stazione);
}
QVariant valore(const AmbienteProva& amb, const QString& db, const QString& sql) {
    return interroga(amb.file(db), sql);
}
} // namespace

class TestConsoleOperazioni : public QObject {
    Q_OBJECT

private slots:
    void init() { contatore::impostaLimiteAttesa(300); }

    void valoreNumerico_data() {
        QTest::addColumn<QString>("testo");
        QTest::addColumn<int>("atteso");
        QTest::newRow("cifre") << "42" << 42;
        QTest::newRow("zeri iniziali") << "025" << 25;
        QTest::newRow("testo") << "Numero" << 0;
        QTest::newRow("vuoto") << "" << 0;
        QTest::newRow("spazi e segno") << "  -12" << -12;
        QTest::newRow("piu") << "+7" << 7;
        QTest::newRow("coda di testo") << "12 persone" << 12;
        QTest::newRow("decimali per eccesso") << "12.7" << 13;
        QTest::newRow("mezzo al pari") << "2.5" << 2;
        QTest::newRow("mezzo al pari dispari") << "3.5" << 4;
        QTest::newRow("massimo") << "2147483647" << std::numeric_limits<int>::max();
        QTest::newRow("oltre il massimo")
            << "99999999999999999999" << std::numeric_limits<int>::max();
        QTest::newRow("oltre il minimo") << "-3000000000" << std::numeric_limits<int>::min();
        QTest::newRow("cifre non latine") << QString::fromUtf8("٣") << 0;
    }
    void valoreNumerico() {
        QFETCH(QString, testo);
        QFETCH(int, atteso);
        QCOMPARE(op::valoreNumerico(testo), atteso);
    }

    void successivoEPrecedente() {
        QCOMPARE(op::numeroSuccessivo(99, true), 1);
        QCOMPARE(op::numeroSuccessivo(99, false), 100);
        QCOMPARE(op::numeroSuccessivo(150, true), 151);
        QCOMPARE(op::numeroSuccessivo(0, true), 1);
        QVERIFY_THROWS_EXCEPTION(ErroreQvr,
                                 op::numeroSuccessivo(std::numeric_limits<qint32>::max(), false));
        QCOMPARE(op::numeroPrecedente(1, true), 99);
        QCOMPARE(op::numeroPrecedente(1, false), 0);
        QCOMPARE(op::numeroPrecedente(42, true), 41);
        QCOMPARE(op::numeroPrecedente(std::numeric_limits<qint32>::min(), false),
                 std::numeric_limits<qint32>::min());
    }

    void chiamaSingola_data() {
        QTest::addColumn<QByteArray>("riga");
        QTest::addColumn<bool>("dopo99");
        QTest::addColumn<int>("stazione");
        QTest::addColumn<int>("corrente");
        QTest::addColumn<int>("chiamato");
        QTest::newRow("41") << QByteArray("41\r\n") << false << 3 << 41 << 42;
        QTest::newRow("99 con giro") << QByteArray("99\r\n") << true << 3 << 0 << 1;
        QTest::newRow("99 senza giro") << QByteArray("99\r\n") << false << 3 << 99 << 100;
        QTest::newRow("150 con giro") << QByteArray("150\r\n") << true << 3 << 150 << 151;
        QTest::newRow("0,1,3") << QByteArray("0,1,3\r\n") << true << 3 << 0 << 1;
        QTest::newRow("stazione 10") << QByteArray("57\r\n") << false << 10 << 57 << 58;
    }
    void chiamaSingola() {
        QFETCH(QByteArray, riga);
        QFETCH(bool, dopo99);
        QFETCH(int, stazione);
        QFETCH(int, corrente);
        QFETCH(int, chiamato);
        AmbienteProva amb;
        prepara(amb, stazione);
        scriviContatore(amb, riga);
        QCOMPARE(op::ChiamaSingola(dopo99), chiamato);
        QCOMPARE(NumeroCorrente, corrente);
        QCOMPARE(NumeroChiamato, chiamato);
        QCOMPARE(leggiContatore(amb), QByteArray::number(chiamato) + "\r\n");
        const QString tab = QStringLiteral("NumerazioneSingle%1").arg(stazione);
        QCOMPARE(valore(amb, "QVRA.mdb", "select NUMERO from " + tab).toInt(), chiamato);
        QCOMPARE(valore(amb, "QVRA.mdb", "select Stato from " + tab).toInt(), 3);
        // Other stations' records and the display table stay as they were.
        const int altra = stazione == 3 ? 4 : 3;
        QCOMPARE(valore(amb, "QVRA.mdb",
                        QStringLiteral("select NUMERO from NumerazioneSingle%1").arg(altra))
                     .toInt(),
                 0);
        QCOMPARE(valore(amb, "QVRB.mdb",
                        QStringLiteral("select NumeroA1 from NumeriCode%1").arg(stazione))
                     .toInt(),
                 0);
    }

    void chiamaSingolaContatoreInErrore() {
        // Missing, unreachable, held, full: ErroreContatore, nothing changes anywhere.
        AmbienteProva amb;
        prepara(amb, 2);
        NumeroCorrente = 5;
        NumeroChiamato = 6;
        auto verificaNienteCambiato = [&] {
            QCOMPARE(NumeroCorrente, 5);
            QCOMPARE(NumeroChiamato, 6);
            QCOMPARE(valore(amb, "QVRA.mdb", "select NUMERO from NumerazioneSingle2").toInt(), 0);
        };

        scriviContatore(amb, QByteArray::number(std::numeric_limits<qint32>::max()) + "\r\n");
        try {
            op::ChiamaSingola(false);
            QFAIL("contatore al massimo accettato");
        } catch (const op::ErroreContatore& e) {
            QCOMPARE(e.numero(), Err::Overflow);
        }
        verificaNienteCambiato();
        QCOMPARE(leggiContatore(amb), QByteArray("2147483647\r\n"));

        QVERIFY(rimuoviFileArchivio(amb.file(QStringLiteral("Nr4All.txt"))));
        try {
            op::ChiamaSingola(false);
            QFAIL("contatore mancante accettato");
        } catch (const op::ErroreContatore& e) {
            QCOMPARE(e.numero(), Err::FileNonTrovato);
        }
        verificaNienteCambiato();
        QCOMPARE(leggiContatore(amb), QByteArray("<assente>")); // never created by a call

        PercorsoArchivi = amb.cartella() + QStringLiteral("/non-esiste");
        try {
            op::ChiamaSingola(false);
            QFAIL("cartella mancante accettata");
        } catch (const op::ErroreContatore& e) {
            QCOMPARE(e.numero(), Err::PercorsoNonTrovato);
        }
        verificaNienteCambiato();
    }

    void chiamaSingolaContatoreTenuto() {
        // Another station holds the file past the bound: error 70, nothing changed.
        AmbienteProva amb;
        prepara(amb, 1);
        scriviContatore(amb, "7\r\n");
        QProcess tiene;
        std::function<void()> rilascia;
        if (suiteSulServer()) {
            rilascia = tieniContatoreServer(amb.file(QStringLiteral("Nr4All.txt")));
            QVERIFY(rilascia);
        } else {
            tiene.start(QStringLiteral("flock"), {amb.file(QStringLiteral("Nr4All.txt")),
                                                  QStringLiteral("sleep"), QStringLiteral("3")});
            if (!tiene.waitForStarted())
                QSKIP("flock not available");
            QTest::qWait(200);
        }
        try {
            op::ChiamaSingola(false);
            QFAIL("contatore tenuto accettato");
        } catch (const op::ErroreContatore& e) {
            QCOMPARE(e.numero(), Err::AutorizzazioneNegata);
        }
        QCOMPARE(leggiContatore(amb), QByteArray("7\r\n"));
        QCOMPARE(valore(amb, "QVRA.mdb", "select NUMERO from NumerazioneSingle1").toInt(), 0);
        if (rilascia)
            rilascia();
        else
            tiene.waitForFinished();
        QCOMPARE(op::ChiamaSingola(false), 8); // free again: the next press works
    }

    void chiamaSingolaArchivioMancante() {
        // QVRA.mdb gone: a plain archive failure (not a counter one), before the draw.
        AmbienteProva amb;
        prepara(amb, 1);
        scriviContatore(amb, "7\r\n");
        QVERIFY(rimuoviFileArchivio(amb.file(QStringLiteral("QVRA.mdb"))));
        try {
            op::ChiamaSingola(false);
            QFAIL("archivio mancante accettato");
        } catch (const op::ErroreContatore&) {
            QFAIL("an archive failure reported as a counter failure");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::DatabaseNonTrovato);
        }
        QCOMPARE(leggiContatore(amb), QByteArray("7\r\n")); // nothing drawn
    }

    void codaSingola_data() {
        QTest::addColumn<int>("p11");
        QTest::addColumn<QByteArray>("riga");
        QTest::addColumn<int>("coda");
        QTest::newRow("57-52") << 57 << QByteArray("52\r\n") << 5;
        QTest::newRow("3-98") << 3 << QByteArray("98\r\n") << 0;
        QTest::newRow("0,1,3") << 4 << QByteArray("0,1,3\r\n") << 4;
        QTest::newRow("estremi") << std::numeric_limits<int>::max() << QByteArray("-5\r\n")
                                 << std::numeric_limits<int>::max();
    }
    void codaSingola() {
        QFETCH(int, p11);
        QFETCH(QByteArray, riga);
        QFETCH(int, coda);
        AmbienteProva amb;
        prepara(amb, 4);
        scriviContatore(amb, riga);
        esegui(amb.file("Totem.mdb"), QStringLiteral("update Numerazione set P11=%1").arg(p11));
        QCOMPARE(op::AggiornaCodaSingola(), coda);
        QCOMPARE(valore(amb, "Totem.mdb", "select P11Q from Numerazione").toDouble(), double(coda));
        QCOMPARE(op::LeggiCodaSingola(), QString::number(coda));
        QCOMPARE(leggiContatore(amb), riga); // the count reads the counter, never rewrites it
    }

    void codaSingolaContatoreMancante() {
        AmbienteProva amb;
        prepara(amb, 4);
        esegui(amb.file("Totem.mdb"), "update Numerazione set P11=9, P11Q=3");
        QVERIFY(rimuoviFileArchivio(amb.file(QStringLiteral("Nr4All.txt"))));
        QVERIFY_THROWS_EXCEPTION(op::ErroreContatore, op::AggiornaCodaSingola());
        QCOMPARE(valore(amb, "Totem.mdb", "select P11Q from Numerazione").toInt(), 3);
    }

    void codaStandard_data() {
        QTest::addColumn<int>("stazione");
        QTest::addColumn<int>("p");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("coda");
        QTest::newRow("30-27") << 4 << 30 << "27" << 3;
        QTest::newRow("10-12") << 4 << 10 << "12" << 0;
        QTest::newRow("Numero") << 4 << 8 << "Numero" << 8;
        QTest::newRow("stazione 10") << 10 << 20 << "025" << 0;
        QTest::newRow("stazione 10 bis") << 10 << 30 << "025" << 5;
        QTest::newRow("fuori intervallo") << 0 << 30 << "0" << 0;
    }
    void codaStandard() {
        QFETCH(int, stazione);
        QFETCH(int, p);
        QFETCH(QString, caption);
        QFETCH(int, coda);
        AmbienteProva amb;
        prepara(amb, stazione);
        for (int n = 1; n <= 10; ++n)
            esegui(amb.file("Totem.mdb"), QStringLiteral("update Numerazione set P%1=%2")
                                              .arg(n)
                                              .arg(n == stazione ? p : 999));
        QCOMPARE(op::AggiornaCodaStandard(caption), coda);
        QCOMPARE(valore(amb, "Totem.mdb", "select P11Q from Numerazione").toInt(), 0);
    }

    void chiamaSingolaRegistroNonScrivibile_data() {
        QTest::addColumn<QString>("guasto");
        QTest::addColumn<int>("errore");
        QTest::addColumn<bool>("estratto"); // the failure comes only after the draw
        QTest::newRow("tabella mancante") << "drop table NumerazioneSingle1" << 3078 << false;
        QTest::newRow("riga mancante") << "delete from NumerazioneSingle1" << 3021 << false;
        QTest::newRow("campo mancante")
            << "alter table NumerazioneSingle1 drop column Stato" << 3265 << false;
        QTest::newRow("scrittura rifiutata")
            << (suiteSulServer()
                    ? "create function pieno() returns trigger language plpgsql as $$ begin "
                      "raise exception 'disco pieno'; end $$; create trigger pieno before update "
                      "on NumerazioneSingle1 for each row execute function pieno()"
                    : "create trigger pieno before update on NumerazioneSingle1 begin select "
                      "raise(abort, 'database or disk is full'); end")
            << 3000 << true;
    }
    void chiamaSingolaRegistroNonScrivibile() {
        // Whatever keeps the record from being written fails before the draw; a write that
        // fails after it names the number drawn.
        QFETCH(QString, guasto);
        QFETCH(int, errore);
        QFETCH(bool, estratto);
        AmbienteProva amb;
        prepara(amb, 1);
        scriviContatore(amb, "7\r\n");
        esegui(amb.file("QVRA.mdb"), guasto);
        try {
            op::ChiamaSingola(false);
            QFAIL("registro non scrivibile accettato");
        } catch (const op::ErroreNumeroNonPubblicato& e) {
            QVERIFY(estratto);
            QCOMPARE(e.numero(), 8);
            QVERIFY(e.dettaglio().contains(QStringLiteral("numero 8")));
        } catch (const ErroreQvr& e) {
            QVERIFY2(!estratto, qPrintable(e.testoCompleto()));
            QCOMPARE(e.numero(), errore);
        }
        QCOMPARE(leggiContatore(amb), estratto ? QByteArray("8\r\n") : QByteArray("7\r\n"));
    }

    void numeroDisplayFuoriPortata_data() {
        QTest::addColumn<QString>("valore");
        QTest::addColumn<int>("chiamato"); // 0: refused with error 6
        QTest::newRow("1e300") << "1e300" << 0;
        QTest::newRow("oltre 32 bit") << "4294967296" << 0;
        QTest::newRow("decimale") << "2.5" << 0;
        QTest::newRow("testo enorme") << "'99999999999'" << 0;
        QTest::newRow("negativo") << "-5" << -4;
        QTest::newRow("25.0") << "25.0" << 26;
        QTest::newRow("testo con coda") << "'12 persone'" << 13;
    }
    void numeroDisplayFuoriPortata() {
        QFETCH(QString, valore);
        QFETCH(int, chiamato);
        if (suiteSulServer() && valore.contains(QLatin1Char(' ')))
            QSKIP("sul server NumeroA1 è una colonna numerica: un testo non numerico non vi entra");
        AmbienteProva amb;
        prepara(amb, 3);
        NumeroChiamato = -1;
        esegui(amb.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=" + valore);
        try {
            op::ChiamaProssimo(false, false);
            QVERIFY2(chiamato != 0, "numero fuori portata accettato");
            QCOMPARE(NumeroChiamato, chiamato);
        } catch (const ErroreQvr& e) {
            QVERIFY2(chiamato == 0, qPrintable(e.testoCompleto()));
            QCOMPARE(e.numero(), Err::Overflow);
            QCOMPARE(NumeroChiamato, -1); // nothing published
        }
    }

    void chiamaProssimo_data() {
        QTest::addColumn<QString>("nelRecord");
        QTest::addColumn<bool>("dopo99");
        QTest::addColumn<int>("chiamato");
        QTest::newRow("99 con giro") << "99" << true << 1;
        QTest::newRow("99 senza giro") << "99" << false << 100;
        QTest::newRow("150") << "150" << true << 151;
        QTest::newRow("0") << "0" << false << 1;
        QTest::newRow("decimale") << "24.0" << false << 25;
    }
    void chiamaProssimo() {
        QFETCH(QString, nelRecord);
        QFETCH(bool, dopo99);
        QFETCH(int, chiamato);
        AmbienteProva amb;
        prepara(amb, 3);
        esegui(amb.file("QVRB.mdb"),
               "update NumeriCode3 set NumeroA1=" + nelRecord + ", StatoN1=2, F1='T'");
        const auto esito = op::ChiamaProssimo(dopo99, false);
        QVERIFY(esito.chiamato);
        QCOMPARE(NumeroChiamato, chiamato);
        QCOMPARE(valore(amb, "QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), chiamato);
        QCOMPARE(valore(amb, "QVRB.mdb", "select StatoN1 from NumeriCode3").toInt(), 3);
        QCOMPARE(valore(amb, "QVRB.mdb", "select F1 from NumeriCode3").toString(),
                 QStringLiteral("F"));
        QCOMPARE(valore(amb, "QVRB.mdb", "select NumeroA1 from NumeriCode4").toInt(), 0);
    }

    void chiamaProssimoCodaVuotaEAttesa() {
        AmbienteProva amb;
        prepara(amb, 10);
        esegui(amb.file("QVRB.mdb"), "update NumeriCode10 set NumeroA1=42, StatoN1=3, F1='T'");
        NumeroChiamato = 7;
        const auto esito = op::ChiamaProssimo(false, true);
        QVERIFY(!esito.chiamato);
        QCOMPARE(esito.numeroLetto, QStringLiteral("42"));
        QCOMPARE(NumeroCorrente, 42);
        QCOMPARE(NumeroChiamato, 7);
        QCOMPARE(valore(amb, "QVRB.mdb", "select StatoN1 from NumeriCode10").toInt(), 3);
        QCOMPARE(valore(amb, "QVRB.mdb", "select F1 from NumeriCode10").toString(),
                 QStringLiteral("T"));

        QCOMPARE(op::SegnalaAttesa(), QStringLiteral("42"));
        QCOMPARE(valore(amb, "QVRB.mdb", "select NumeroA1 from NumeriCode10").toInt(), 42);
        QCOMPARE(valore(amb, "QVRB.mdb", "select StatoN1 from NumeriCode10").toInt(), 2);
        QCOMPARE(valore(amb, "QVRB.mdb", "select F1 from NumeriCode10").toString(),
                 QStringLiteral("F"));
        QCOMPARE(NumeroChiamato, 7); // the wait does not change the number of the last call
    }

    void chiamaProssimoAlMassimo() {
        AmbienteProva amb;
        prepara(amb, 1);
        esegui(amb.file("QVRB.mdb"), "update NumeriCode1 set NumeroA1=2147483647, StatoN1=2");
        QVERIFY_THROWS_EXCEPTION(ErroreQvr, op::ChiamaProssimo(false, false));
        QCOMPARE(valore(amb, "QVRB.mdb", "select NumeroA1 from NumeriCode1").toLongLong(),
                 2147483647LL);
        QCOMPARE(valore(amb, "QVRB.mdb", "select StatoN1 from NumeriCode1").toInt(), 2);
    }

    void piuStazioniInsieme() {
        // Four station processes draw in single numbering with the kiosk while a kiosk process
        // issues tickets: every number is drawn exactly once and the counter ends at the total.
        AmbienteProva amb;
        const int stazioni = 4, chiamate = 40;
        for (int n = 1; n <= stazioni; ++n) {
            QDir().mkpath(amb.cartella() + QStringLiteral("/s%1").arg(n));
            QFile p(amb.cartella() + QStringLiteral("/s%1/percorsi.txt").arg(n));
            QVERIFY(p.open(QIODevice::WriteOnly));
            p.write(QStringLiteral("\"%1\",%2\r\n").arg(amb.archivio()).arg(n).toUtf8());
        }
        const QString helper = cartellaProgrammiTest() + QStringLiteral("/stazione_singola");
        for (int i = 0; i < stazioni * chiamate / 2; ++i)
            emettiBiglietto(amb.archivio(), 11);

        QProcess totem;
        totem.start(helper, {QStringLiteral("--totem"), amb.archivio(),
                             QString::number(stazioni * chiamate)});
        std::vector<std::unique_ptr<QProcess>> processi;
        for (int n = 1; n <= stazioni; ++n) {
            auto p = std::make_unique<QProcess>();
            p->start(helper,
                     {amb.cartella() + QStringLiteral("/s%1").arg(n), QString::number(chiamate)});
            processi.push_back(std::move(p));
        }
        QList<int> tutti;
        for (auto& p : processi) {
            QVERIFY(p->waitForFinished(120000));
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     p->readAllStandardError().constData());
            const auto righe = p->readAllStandardOutput().split('\n');
            int lette = 0;
            for (const QByteArray& r : righe)
                if (!r.trimmed().isEmpty()) {
                    tutti << r.trimmed().toInt();
                    ++lette;
                }
            QCOMPARE(lette, chiamate);
        }
        QVERIFY(totem.waitForFinished(120000));
        QCOMPARE(totem.exitCode(), 0);

        const int totale = stazioni * chiamate;
        QSet<int> distinti(tutti.begin(), tutti.end());
        QCOMPARE(tutti.size(), totale);
        QCOMPARE(distinti.size(), totale);
        for (int n = 1; n <= totale; ++n)
            QVERIFY2(distinti.contains(n), qPrintable(QStringLiteral("manca %1").arg(n)));
        QCOMPARE(leggiContatore(amb), QByteArray::number(totale) + "\r\n");
        QCOMPARE(valore(amb, "Totem.mdb", "select P11 from Numerazione").toInt(),
                 totale / 2 + totale);
    }
};

QTEST_GUILESS_MAIN(TestConsoleOperazioni)
#include "test_console_operazioni.moc"
