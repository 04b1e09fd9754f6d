// The kiosk's model and window driven without a screen: taps, keys, double taps, the kiosk
// not in use, a missing archive, a printer that cannot print; the settings file and its PIN;
// the ESC/POS bytes.
#include "archive/nomi.h"
#include "supporto.h"
#include "totem/chiosco.h"
#include "totem/finestra_totem.h"
#include "totem/impostazioni_totem.h"
#include "totem/stampa.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qvr;
using namespace qvr::test;
using namespace qvr::totem;

namespace {

ImpostazioniTotem impostazioniProva(const QString& cartella) {
    ImpostazioniTotem s;
    s.cartella = cartella;
    s.ufficio = QStringLiteral("Comune di Prova");
    s.servizi = {{QStringLiteral("Anagrafe"), 2}, {QStringLiteral("Ritiro referti"), 11}};
    s.ritorno = 1;
    return s;
}

int contatoreP(const AmbienteProva& amb, const QString& campo) {
    return interroga(amb.file(nomi::FileTotem), "SELECT " + campo + " FROM Numerazione").toInt();
}

} // namespace

class TestTotemChiosco : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void tocchiETasti();
    void nonAttivoEGuasto();
    void stampanteNonDisponibile();
    void impostazioniEPin();
    void impostazioniDanneggiate();
    void escPos();

private:
    QTemporaryDir m_config;
};

void TestTotemChiosco::initTestCase() {
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

void TestTotemChiosco::tocchiETasti() {
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    Chiosco chiosco(impostazioniProva(amb.archivio()));
    int stampe = 0;
    chiosco.impostaStampa([&](const DatiBiglietto& d) {
        ++stampe;
        EsitoStampa e;
        e.riuscita = d.numero > 0;
        return e;
    });
    FinestraTotem w(&chiosco, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.bottoniServizi().size(), 2);
    QCOMPARE(w.bottoniServizi()[0]->accessibleName(), QString("Anagrafe"));
    // A double tap gives one ticket.
    QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
    QTest::mouseClick(w.bottoniServizi()[0], Qt::LeftButton);
    QCOMPARE(w.testoNumero(), QString("Il suo numero è 1"));
    QCOMPARE(contatoreP(amb, "P2"), 1);
    QCOMPARE(stampe, 1);
    // Back to the services by itself; then key 2 takes a number of the shared sequence.
    QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 3000);
    QTest::keyClick(&w, Qt::Key_2);
    QCOMPARE(w.testoNumero(), QString("Il suo numero è 1"));
    QCOMPARE(contatoreP(amb, "P11"), 1);
    QCOMPARE(contatoreP(amb, "P11Q"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 3000);
    QTest::keyClick(&w, Qt::Key_3); // no third service
    QCOMPARE(chiosco.schermata(), Schermata::Servizi);
    QCOMPARE(contatoreP(amb, "P2") + contatoreP(amb, "P11"), 2);
}

void TestTotemChiosco::nonAttivoEGuasto() {
    AmbienteProva amb; // RHDSN "NO"
    Chiosco chiosco(impostazioniProva(amb.archivio()));
    chiosco.impostaStampa([](const DatiBiglietto&) { return EsitoStampa{true, 1, {}}; });
    FinestraTotem w(&chiosco, {});
    QCOMPARE(chiosco.schermata(), Schermata::NonAttivo);
    QCOMPARE(w.testoNumero(), QString("Totem non attivo"));
    QVERIFY(!chiosco.premi(0));
    QCOMPARE(contatoreP(amb, "P2"), 0);

    esegui(amb.file(nomi::FileTotem), "UPDATE Configurazione SET RHDSN = 'SI'");
    chiosco.controlla();
    QCOMPARE(chiosco.schermata(), Schermata::Servizi);
    // Totem.mdb goes away: the press issues nothing and says so; the error stays in the status
    // line until the archive answers again.
    const QString totem = amb.file(nomi::FileTotem);
    QVERIFY(QFile::rename(totem, totem + ".via"));
    QVERIFY(!chiosco.premi(0));
    QCOMPARE(w.testoNumero(), QString("Servizio momentaneamente non disponibile"));
    QVERIFY2(w.testoStato().startsWith("Errore 3024"), qPrintable(w.testoStato()));
    QVERIFY(!QFile::exists(totem));
    QTRY_COMPARE_WITH_TIMEOUT(chiosco.schermata(), Schermata::Servizi, 3000);
    QVERIFY(QFile::rename(totem + ".via", totem));
    chiosco.controlla();
    QCOMPARE(w.testoStato(), QString());
    QVERIFY(chiosco.premi(0));
    QCOMPARE(contatoreP(amb, "P2"), 1);
}

void TestTotemChiosco::stampanteNonDisponibile() {
    OpzioniArchivio o;
    o.totem = true;
    AmbienteProva amb(o);
    ImpostazioniTotem s = impostazioniProva(amb.archivio());
    s.modo = ModoStampa::EscPosFile;
    s.dispositivo = amb.cartella() + "/lp0-mancante";
    Chiosco chiosco(s);
    FinestraTotem w(&chiosco, {});
    QSignalSpy finita(&chiosco, &Chiosco::stampaFinita);
    QVERIFY(chiosco.premi(0));
    QVERIFY(finita.wait(5000));
    QCOMPARE(finita.at(0).at(0).toBool(), false);
    QCOMPARE(contatoreP(amb, "P2"), 1); // the ticket still counts
    QVERIFY(chiosco.stampanteNonDisponibile());
    QVERIFY(w.findChild<QLabel*>("avvisoStampa")->text() ==
            QString("Stampante non disponibile: ricordi il suo numero"));
    QVERIFY2(w.testoStato().contains("lp0-mancante"), qPrintable(w.testoStato()));
    // The number stays on screen longer than the return time (1 s here).
    QTest::qWait(1300);
    QCOMPARE(chiosco.schermata(), Schermata::Numero);
    // Printing works again: the device appears, the status line clears.
    scriviFile(s.dispositivo, {});
    chiosco.controlla();
    QVERIFY2(!w.testoStato().contains("lp0-mancante"), qPrintable(w.testoStato()));
}

void TestTotemChiosco::impostazioniEPin() {
    ImpostazioniTotem s = impostazioniProva(QStringLiteral("/srv/qvr"));
    s.carta = 58;
    s.impostaPin(QStringLiteral("4711"));
    s.salva();
    QCOMPARE(ImpostazioniTotem::percorsoFile(), m_config.path() + "/qvr/qvr-totem.ini");
    const QByteArray file = contenuto(ImpostazioniTotem::percorsoFile());
    QVERIFY(!file.contains("4711"));
    QStringList problemi;
    const ImpostazioniTotem letta = ImpostazioniTotem::carica(&problemi);
    QVERIFY2(problemi.isEmpty(), qPrintable(problemi.join('\n')));
    QCOMPARE(letta.servizi, s.servizi);
    QCOMPARE(letta.carta, 58);
    QVERIFY(letta.verificaPin(QStringLiteral("4711")));
    QVERIFY(!letta.verificaPin(QStringLiteral("4712")));
    // Same PIN, other salt: another hash.
    ImpostazioniTotem altra = s;
    altra.impostaPin(QStringLiteral("4711"));
    QVERIFY(altra.impronta != s.impronta);
}

void TestTotemChiosco::impostazioniDanneggiate() {
    scriviFile(ImpostazioniTotem::percorsoFile(),
               "[generale]\ncartella=/srv/qvr\nritorno=mai\n[stampa]\ncarta=A4\n"
               "[pin]\nsale=zz\nimpronta=1234\n[servizi]\n1\\etichetta=Anagrafe\n"
               "1\\sequenza=P12\n2\\etichetta=Referti\n2\\sequenza=P11\nsize=2\n\x01\x02\xff\n");
    QStringList problemi;
    const ImpostazioniTotem s = ImpostazioniTotem::carica(&problemi);
    QCOMPARE(problemi.size(), 4); // ritorno, carta, PIN, servizio 1
    QVERIFY(problemi[0].startsWith("Errore 13"));
    QCOMPARE(s.servizi.size(), 1);
    QCOMPARE(s.servizi[0].sequenza, 11);
    QCOMPARE(s.ritorno, 6);
    QVERIFY(!s.haPin());
}

void TestTotemChiosco::escPos() {
    const DatiBiglietto d{QStringLiteral("Città di Prova"), QStringLiteral("Ritiro referti"), 57, 3,
                          QDateTime(QDate(2026, 12, 8), QTime(9, 5))};
    const QByteArray b = escPosBiglietto(d, 58);
    QVERIFY(b.startsWith("\x1b@"));
    QVERIFY(b.contains("Citt\x85 di Prova\n"));
    QVERIFY(b.contains(QByteArray("\x1d!\x77", 3) + "57\n"));
    QVERIFY(b.contains("Ritiro referti\n"));
    QVERIFY(b.contains("3 persone prima di lei\n"));
    QVERIFY(b.contains("08/12/2026 09:05\n"));
    QVERIFY(b.endsWith(QByteArray("\x1dV\x42\x03", 4)));
    // 32 columns on 58 mm paper.
    DatiBiglietto lungo = d;
    lungo.servizio = QString(60, 'x');
    QVERIFY(escPosBiglietto(lungo, 58).contains(QByteArray(32, 'x') + '\n'));
    QVERIFY(!escPosBiglietto(lungo, 58).contains(QByteArray(33, 'x')));
}

QTEST_MAIN(TestTotemChiosco)
#include "test_totem_chiosco.moc"
