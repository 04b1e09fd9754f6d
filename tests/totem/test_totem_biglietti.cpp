// Issuing tickets, the count round the sequence, and the new day's reset, on either engine
// (QVR_MOTORE=server: the archive on the test server).
#include "app/globali.h"
#include "archive/biglietti.h"
#include "archive/contatore.h"
#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/nuova_giornata.h"
#include "console/operazioni.h"
#include "supporto.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace qvr;
using namespace qvr::test;

class TestTotemBiglietti : public QObject {
    Q_OBJECT
private slots:
    void conta_data();
    void conta();
    void giroDopo99();
    void singolaScriveLaCoda();
    void nonAttivoNonEmette();
    void rigaBloccataNonEmette();
    void nuovaGiornata();
    void consoleContaOltreIlGiro();
};

void TestTotemBiglietti::conta_data() {
    QTest::addColumn<int>("biglietto");
    QTest::addColumn<int>("chiamato");
    QTest::addColumn<bool>("dopo99");
    QTest::addColumn<int>("attesi");
    QTest::newRow("ordinario") << 57 << 52 << true << 5;
    QTest::newRow("pari") << 30 << 30 << true << 0;
    QTest::newRow("giro, kiosk a 3 e console a 98") << 3 << 98 << true << 4;
    QTest::newRow("giro, kiosk a 1 e console a 99") << 1 << 99 << true << 1;
    QTest::newRow("senza giro resta 0") << 3 << 98 << false << 0;
    QTest::newRow("numeri impostati a mano oltre 99") << 3 << 150 << true << 0;
}

void TestTotemBiglietti::conta() {
    QFETCH(int, biglietto);
    QFETCH(int, chiamato);
    QFETCH(bool, dopo99);
    QFETCH(int, attesi);
    QCOMPARE(biglietti::personeInAttesa(biglietto, chiamato, dopo99), attesi);
}

void TestTotemBiglietti::giroDopo99() {
    OpzioniArchivio o;
    o.dopo99Standard = true;
    AmbienteProva amb(o);
    const QString totem = amb.file(nomi::FileTotem);
    esegui(totem, "UPDATE Numerazione SET P4 = 99, P11 = 99");
    esegui(amb.file(nomi::FileQVRB), "UPDATE NumeriCode4 SET NumeroA1 = 97");
    const biglietti::Biglietto b = biglietti::emetti(amb.archivio(), 4);
    QCOMPARE(b.numero, 1);                                       // NovantanoveStandard
    QCOMPARE(b.davanti, 2);                                      // 98 and 99 are still ahead
    QCOMPARE(biglietti::emetti(amb.archivio(), 11).numero, 100); // NovantanoveSingle off
    QCOMPARE(interroga(totem, "SELECT P4 FROM Numerazione").toInt(), 1);
    QCOMPARE(emettiBiglietto(amb.archivio(), 4), 2); // the tools' way, the same draw
}

void TestTotemBiglietti::singolaScriveLaCoda() {
    AmbienteProva amb;
    const QString totem = amb.file(nomi::FileTotem);
    esegui(totem, "UPDATE Numerazione SET P11 = 56, P11Q = 77, P3 = 5");
    contatore::scriviNumero(amb.file(nomi::FileContatore), 52);
    const biglietti::Biglietto b = biglietti::emetti(amb.archivio(), 11);
    QCOMPARE(b.numero, 57);
    QCOMPARE(b.coda, 5);
    QCOMPARE(b.davanti, 4);
    QCOMPARE(interroga(totem, "SELECT P11Q FROM Numerazione").toInt(), 5);
    // A station's own ticket writes its counter only: P11Q stays as a console left it.
    esegui(totem, "UPDATE Numerazione SET P11Q = 9");
    QCOMPARE(biglietti::emetti(amb.archivio(), 3).numero, 6);
    QCOMPARE(interroga(totem, "SELECT P11Q FROM Numerazione").toInt(), 9);
    QCOMPARE(interroga(totem, "SELECT P11 FROM Numerazione").toInt(), 57);
}

void TestTotemBiglietti::nonAttivoNonEmette() {
    AmbienteProva amb; // RHDSN "NO"
    biglietti::Opzioni o;
    o.soloSeAttivo = true;
    QVERIFY(!biglietti::totemAttivo(amb.archivio()));
    QCOMPARE(numeroErrore([&] { biglietti::emetti(amb.archivio(), 1, o); }),
             biglietti::ErroreTotemNonAttivo);
    QCOMPARE(interroga(amb.file(nomi::FileTotem), "SELECT P1 FROM Numerazione").toInt(), 0);
    esegui(amb.file(nomi::FileTotem), "UPDATE Configurazione SET RHDSN = 'SI'");
    QCOMPARE(biglietti::emetti(amb.archivio(), 1, o).numero, 1);
}

void TestTotemBiglietti::rigaBloccataNonEmette() {
    QVR_SOLO_CARTELLE("il blocco di SQLite su Totem.mdb");
    AmbienteProva amb;
    Cursore::impostaTimeoutOccupato(300);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "blocco");
        db.setDatabaseName(amb.file(nomi::FileTotem));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("BEGIN IMMEDIATE"));
        QCOMPARE(numeroErrore([&] { biglietti::emetti(amb.archivio(), 11); }), Err::RecordBloccato);
        QVERIFY(q.exec("ROLLBACK"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("blocco");
    Cursore::impostaTimeoutOccupato(5000);
    QCOMPARE(biglietti::emetti(amb.archivio(), 11).numero, 1);
}

void TestTotemBiglietti::nuovaGiornata() {
    AmbienteProva amb;
    const QString totem = amb.file(nomi::FileTotem);
    const QString qvrb = amb.file(nomi::FileQVRB);
    esegui(totem, "UPDATE Numerazione SET P1 = 12, P10 = 3, P11 = 40, P11Q = 6");
    esegui(qvrb, "UPDATE NumeriCode10 SET NumeroA1 = 44, StatoN1 = 3, F1 = 'T'");
    contatore::scriviNumero(amb.file(nomi::FileContatore), 34);
    // A station's table missing: found before anything changes, nothing is reset.
    esegui(qvrb, "ALTER TABLE NumeriCode7 RENAME TO Altro");
    QCOMPARE(numeroErrore([&] { giornata::nuovaGiornata(amb.archivio()); }),
             Err::TabellaNonTrovata);
    QCOMPARE(interroga(totem, "SELECT P1 + P10 + P11 + P11Q FROM Numerazione").toInt(), 61);
    QCOMPARE(contatoreGrezzo(amb.file(nomi::FileContatore)), QByteArray("34\r\n"));
    esegui(qvrb, "ALTER TABLE Altro RENAME TO NumeriCode7");
    QStringList passi;
    giornata::nuovaGiornata(amb.archivio(), [&](const QString& p) { passi << p; });
    QCOMPARE(passi.size(), 3);
    QCOMPARE(interroga(totem, "SELECT P1 + P10 + P11 + P11Q FROM Numerazione").toInt(), 0);
    QCOMPARE(contatore::leggiLong(amb.file(nomi::FileContatore)), 0);
    QCOMPARE(interroga(qvrb, "SELECT NumeroA1 || ',' || StatoN1 || ',' || F1 FROM NumeriCode10")
                 .toString(),
             QString("0,1,F"));
}

void TestTotemBiglietti::consoleContaOltreIlGiro() {
    // The console's two refreshes, with the wrap on, after the kiosk passed 99.
    AmbienteProva amb;
    PercorsoArchivi = amb.archivio();
    NumeroPostazione = 4;
    const QString totem = amb.file(nomi::FileTotem);
    esegui(totem, "UPDATE Numerazione SET P4 = 2, P11 = 3");
    contatore::scriviNumero(amb.file(nomi::FileContatore), 98);
    QCOMPARE(operazioni::AggiornaCodaStandard(QStringLiteral("97"), true), 4);
    QCOMPARE(operazioni::AggiornaCodaStandard(QStringLiteral("97"), false), 0);
    QCOMPARE(operazioni::AggiornaCodaSingola(true), 4);
    QCOMPARE(interroga(totem, "SELECT P11Q FROM Numerazione").toInt(), 4);
    QCOMPARE(operazioni::AggiornaCodaSingola(false), 0);
}

QTEST_GUILESS_MAIN(TestTotemBiglietti)
#include "test_totem_biglietti.moc"
