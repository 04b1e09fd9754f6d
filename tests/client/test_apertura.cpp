// The launcher: load sequence with its recoveries, the kiosk box, the buttons, the start.

#include "supporto.h"

#include "app/avvio.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "dialogs/messaggi.h"
#include "dialogs/msgform.h"
#include "launcher/apertura.h"
#include "launcher/imporete.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace qvr;
using qvr::test::AmbienteProva;
using qvr::test::esegui;
using qvr::test::interroga;
using qvr::test::UscitaIntercettata;

namespace {

using AzioneImpoRete = std::function<void(ImpoRete*)>;

// Plays the operator at the modal windows the launcher opens: each settings window that appears
// gets the next queued action (or is closed, and after a few of those the operator chooses to
// leave, so a broken test cannot loop for ever); each message window is answered "C&hiudi".
// Two timers, because a timer does not fire again while its own handler runs a nested loop.
class Operatore {
public:
    Operatore() {
        QObject::connect(&m_timerImpo, &QTimer::timeout, [this] { guardaImpoRete(); });
        QObject::connect(&m_timerMsg, &QTimer::timeout, [this] { guardaMessaggio(); });
        m_timerImpo.start(10);
        m_timerMsg.start(10);
    }

    QList<AzioneImpoRete> azioni;
    int impoReteViste = 0;
    int impoReteInattese = 0;
    QList<QStringList> messaggiVisti;

private:
    void guardaImpoRete() {
        auto* f = qobject_cast<ImpoRete*>(QApplication::activeModalWidget());
        if (!f || !f->isVisible())
            return;
        ++impoReteViste;
        if (!azioni.isEmpty()) {
            azioni.takeFirst()(f);
            return;
        }
        if (++impoReteInattese > 3)
            messaggi::accodaRisposta(QMessageBox::Yes);
        f->cbt(0)->click();
    }

    void guardaMessaggio() {
        auto* m = qobject_cast<MsgForm*>(QApplication::activeModalWidget());
        if (!m || !m->isVisible())
            return;
        QStringList righe;
        for (int i = 0; i < 2; ++i)
            if (m->Label2(i)->isVisible())
                righe << m->Label2(i)->text();
        messaggiVisti << righe;
        m->PB1(0)->click();
    }

    QTimer m_timerImpo;
    QTimer m_timerMsg;
};

// The operator chooses `cartella` and station `postazione` and saves.
AzioneImpoRete salvaCon(const QString& cartella, int postazione) {
    return [=](ImpoRete* f) {
        ImpoRete::sceltaCartella = [cartella](QWidget*) { return cartella; };
        f->cbt(1)->click();
        f->R1(postazione - 1)->click();
        f->cbt(2)->click();
    };
}

// The operator closes the settings window and answers the way-out question.
AzioneImpoRete chiudiERispondi(QMessageBox::StandardButton risposta) {
    return [=](ImpoRete* f) {
        messaggi::accodaRisposta(risposta);
        f->cbt(0)->click();
    };
}

void scriviFile(const QString& file, const QByteArray& dati) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(dati);
}

bool carica(Apertura& a) {
    return eseguiGestito([&a] { a.Carica(); });
}

QString nomeUtente(const AmbienteProva& amb, int id) {
    return interroga(amb.file("QVR.mdb"),
                     QStringLiteral("select Nominativo from Utenti where id=%1").arg(id))
        .toString();
}

QString rhdsn(const AmbienteProva& amb) {
    return interroga(amb.file("Totem.mdb"), "select RHDSN from Configurazione").toString();
}

const QString TestoNonImpostato =
    QStringLiteral("Percorso Server non impostato o Server non raggiungibile !");

} // namespace

class TestApertura : public QObject {
    Q_OBJECT

private slots:
    void init() {
        messaggi::azzeraRegistro();
        messaggi::impostaRispostaAutomatica(true);
        ImpoRete::azzeraMemoria();
        ImpoRete::sceltaCartella = nullptr;
    }
    void cleanup() {
        messaggi::impostaRispostaAutomatica(false);
        messaggi::azzeraRegistro();
        ImpoRete::sceltaCartella = nullptr;
    }

    void controlliIniziali() {
        Apertura a;
        QCOMPARE(a.windowTitle(), QStringLiteral("QVR - 3.7.2 - Modulo Client"));
        QCOMPARE(a.findChild<QLabel*>("Label1_0")->text(), QStringLiteral("Postazione"));
        QCOMPARE(a.findChild<QLabel*>("Label3")->text(), QStringLiteral("Label3"));
        auto* link = a.findChild<QLabel*>("Label2");
        QCOMPARE(link->text(), QStringLiteral("Visualizza percorso QVR Server"));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link->focusPolicy() & Qt::TabFocus);
        QCOMPARE(a.findChild<QCheckBox*>("CB3")->text(), QStringLiteral("Utilizza Totem "));
        QCOMPARE(a.findChild<QCheckBox*>("CB1")->text(), QStringLiteral("Utilizza agenda "));
        QCOMPARE(a.findChild<QCheckBox*>("CB2")->text(),
                 QStringLiteral("Utilizza Orario come Numero "));
        QCOMPARE(a.findChild<QPushButton*>("PB1_0")->text(), QStringLiteral("C&hiudi"));
        QCOMPARE(a.findChild<QPushButton*>("PB1_1")->text(), QStringLiteral("Avvia con Agenda"));
        QCOMPARE(a.findChild<QPushButton*>("PB1_2")->text(), QStringLiteral("Avvia Client"));
        for (const char* visibile : {"Label1_0", "Label3", "Label2", "CB3", "PB1_0", "PB1_2"})
            QVERIFY2(!a.findChild<QWidget*>(visibile)->isHidden(), visibile);
        for (const char* nascosto : {"CB1", "CB2", "PB1_1"})
            QVERIFY2(a.findChild<QWidget*>(nascosto)->isHidden(), nascosto);
        auto* immagine = a.findChild<QLabel*>("Image1");
        QVERIFY(!immagine->pixmap().isNull());
        QVERIFY(!immagine->accessibleName().isEmpty());
    }

    void pulsantiStandardInItaliano() {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_it.qm"))
            QSKIP("traduzione italiana del toolkit non installata");
        impostaApplicazione(*qobject_cast<QApplication*>(QCoreApplication::instance()));
        // The way-out question answers "Sì" / "No", not "Yes" / "No".
        QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove('&'), QStringLiteral("Sì"));
        QCOMPARE(QApplication::applicationName(), QStringLiteral("qvr-client"));
    }

    void postazioneDieciLeggePosto10ID() {
        AmbienteProva amb;
        esegui(amb.file("QVR.mdb"), "update PostazioneUtente set Posto1ID=2, Posto10ID=7");
        amb.scriviPercorsi(10);
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione 10"));
        QCOMPARE(NumeroPostazione, 10);
        QCOMPARE(IdUtente, 7);
        QCOMPARE(a.Label3()->text(), nomeUtente(amb, 7));
        QVERIFY(!a.Label3()->text().isEmpty());
        QCOMPARE(PercorsoArchivi, amb.archivio());
        QCOMPARE(PostazioneTesto, QStringLiteral("10"));
        QCOMPARE(uscita.volte(), 0);
        QVERIFY(messaggi::registro().isEmpty());
    }

    void postazioneNonRiconosciutaSenzaUtenteZero() {
        AmbienteProva amb;
        esegui(amb.file("QVR.mdb"), "delete from Utenti where id=0");
        // A hand-written leading zero matches no station.
        scriviFile("percorsi.txt", ("\"" + amb.archivio() + "\",03\r\n").toUtf8());
        UscitaIntercettata uscita;
        Apertura a;
        a.show();
        QVERIFY(!carica(a));
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QCOMPARE(m.testo, QStringLiteral("Nessun Utente inserito !"));
        QCOMPARE(m.titolo, QStringLiteral("Attenzione"));
        QCOMPARE(m.icona, messaggi::Icona::Critica);
        QCOMPARE(m.pulsanti, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!a.isVisible()); // the launcher closed
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione"));
        QCOMPARE(NumeroPostazione, 0);
    }

    void postazioneNonRiconosciutaUsaUtenteZero() {
        AmbienteProva amb;
        esegui(amb.file("QVR.mdb"), "insert into Utenti (id, Nominativo) values (0, 'Sportello')");
        amb.scriviPercorsi(0); // saved with no station selected
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione"));
        QCOMPARE(a.Label3()->text(), QStringLiteral("Sportello"));
        QCOMPARE(uscita.volte(), 0);
    }

    void nominativoNullMostraVuoto() {
        AmbienteProva amb;
        esegui(amb.file("QVR.mdb"), "update Utenti set Nominativo=NULL where id=3");
        esegui(amb.file("QVR.mdb"), "update PostazioneUtente set Posto3ID=3");
        amb.scriviPercorsi(3);
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(a.Label3()->text(), QString());
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione 3"));
        QCOMPARE(uscita.volte(), 0);
        QVERIFY(messaggi::registro().isEmpty());
    }

    void totemDallArchivio_data() {
        QTest::addColumn<QString>("valore"); // "<null>" for Null
        QTest::addColumn<bool>("spuntato");
        QTest::newRow("SI") << "SI" << true;
        QTest::newRow("si") << "si" << false;
        QTest::newRow("Si") << "Si" << false;
        QTest::newRow("SI e spazio") << "SI " << false;
        QTest::newRow("NO") << "NO" << false;
        QTest::newRow("vuoto") << "" << false;
        QTest::newRow("Null") << "<null>" << false;
    }
    void totemDallArchivio() {
        QFETCH(QString, valore);
        QFETCH(bool, spuntato);
        AmbienteProva amb;
        esegui(amb.file("Totem.mdb"),
               valore == "<null>"
                   ? QStringLiteral("update Configurazione set RHDSN=NULL")
                   : QStringLiteral("update Configurazione set RHDSN='%1'").arg(valore));
        amb.scriviPercorsi(2);
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(a.totemSpuntato(), spuntato);
        QCOMPARE(a.CB3()->isChecked(), spuntato);
        QCOMPARE(uscita.volte(), 0);
        // Setting the box at load stores nothing.
        const QVariant dopo = interroga(amb.file("Totem.mdb"), "select RHDSN from Configurazione");
        if (valore == "<null>")
            QVERIFY(dopo.isNull());
        else
            QCOMPARE(dopo.toString(), valore);
    }

    void clicSuCB3SalvaSubito() {
        OpzioniArchivio opzioni;
        opzioni.totem = true;
        AmbienteProva amb(opzioni);
        amb.scriviPercorsi(1);
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(carica(a));
        QVERIFY(a.totemSpuntato());
        a.CB3()->click();
        QVERIFY(!a.CB3()->isChecked());
        QCOMPARE(rhdsn(amb), QStringLiteral("NO"));
        a.CB3()->click();
        QCOMPARE(rhdsn(amb), QStringLiteral("SI"));
        QCOMPARE(uscita.volte(), 0);
        QCOMPARE(TotemInUso, false); // only "Avvia Client" sets it
        // The database is not left busy: another writer gets through at once.
        esegui(amb.file("Totem.mdb"), "update Configurazione set RHDSN='NO'");
    }

    void clicSuCB3SenzaArchivioRiportato() {
        AmbienteProva amb;
        amb.scriviPercorsi(1);
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(carica(a));
        QVERIFY(QFile::remove(amb.file("Totem.mdb")));
        a.CB3()->click();
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(uscita.ultimoCodice(), 1);
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().icona, messaggi::Icona::Critica);
        QVERIFY(messaggi::registro().first().testo.contains("3024"));
        QVERIFY(!QFile::exists(amb.file("Totem.mdb"))); // nothing created
    }

    void avviaClientPassaLaCasella_data() {
        QTest::addColumn<bool>("totem");
        QTest::newRow("spuntata") << true;
        QTest::newRow("non spuntata") << false;
    }
    void avviaClientPassaLaCasella() {
        QFETCH(bool, totem);
        OpzioniArchivio opzioni;
        opzioni.totem = totem;
        AmbienteProva amb(opzioni);
        amb.scriviPercorsi(5);
        UscitaIntercettata uscita;
        TotemInUso = !totem;
        Apertura a;
        QSignalSpy avvio(&a, &Apertura::avviaClientRichiesto);
        QVERIFY(apriPrimaFinestra(a));
        QVERIFY(a.isVisible());
        bool chiusaAllAvvio = false;
        connect(&a, &Apertura::avviaClientRichiesto, this,
                [&] { chiusaAllAvvio = !a.isVisible() && TotemInUso == totem; });
        a.PB1(2)->click();
        QCOMPARE(avvio.count(), 1);
        QVERIFY(chiusaAllAvvio);
        QCOMPARE(TotemInUso, totem);
        QVERIFY(!a.isVisible());
        QCOMPARE(uscita.volte(), 0); // the program goes on with the console
    }

    void chiudiTerminaIlProgramma() {
        AmbienteProva amb;
        amb.scriviPercorsi(1);
        {
            UscitaIntercettata uscita;
            Apertura a;
            QVERIFY(apriPrimaFinestra(a));
            a.PB1(0)->click();
            QCOMPARE(uscita.volte(), 1);
            QCOMPARE(uscita.ultimoCodice(), 0);
            QVERIFY(!a.isVisible());
        }
        {
            // The window's own close box.
            UscitaIntercettata uscita;
            Apertura a;
            QVERIFY(apriPrimaFinestra(a));
            a.close();
            QCOMPARE(uscita.volte(), 1);
            QCOMPARE(uscita.ultimoCodice(), 0);
        }
        QVERIFY(messaggi::registro().isEmpty());
    }

    void primoAvvioSenzaFileProsegueDopoIlSalvataggio() {
        AmbienteProva amb;
        QVERIFY(!QFile::exists("percorsi.txt"));
        UscitaIntercettata uscita;
        Operatore operatore;
        operatore.azioni << salvaCon(amb.archivio(), 4);
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(operatore.impoReteViste, 1);
        QCOMPARE(operatore.impoReteInattese, 0);
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QCOMPARE(m.testo, TestoNonImpostato);
        QCOMPARE(m.titolo, QStringLiteral("QVR-Messaggio"));
        QCOMPARE(m.icona, messaggi::Icona::Informazione);
        QCOMPARE(m.pulsanti, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(operatore.messaggiVisti.size(), 1); // the save's confirmation
        QCOMPARE(operatore.messaggiVisti.first().size(), 2);
        // Goes on with the new settings, without a restart.
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione 4"));
        QCOMPARE(a.Label3()->text(), nomeUtente(amb, 4));
        QCOMPARE(uscita.volte(), 0);
    }

    void senzaFileChiusoSenzaSalvareUscita() {
        AmbienteProva amb;
        UscitaIntercettata uscita;
        Operatore operatore;
        operatore.azioni << chiudiERispondi(QMessageBox::Yes);
        Apertura a;
        a.show();
        QVERIFY(!carica(a));
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(uscita.ultimoCodice(), 0);
        QVERIFY(!a.isVisible());
        QCOMPARE(messaggi::registro().size(), 2);
        const auto& domanda = messaggi::registro().at(1);
        QCOMPARE(domanda.icona, messaggi::Icona::Domanda);
        QCOMPARE(domanda.titolo, QStringLiteral("QVR-Messaggio"));
        QCOMPARE(domanda.testo,
                 QStringLiteral("Archivio non raggiungibile. Uscire dal programma ?"));
        QCOMPARE(domanda.pulsanti, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(domanda.predefinito, QMessageBox::No);
        QVERIFY(!QFile::exists("percorsi.txt"));
    }

    void senzaFileNoRiprovaPoiSalva() {
        AmbienteProva amb;
        UscitaIntercettata uscita;
        Operatore operatore;
        operatore.azioni << chiudiERispondi(QMessageBox::No) << salvaCon(amb.archivio(), 2);
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(operatore.impoReteViste, 2);
        QCOMPARE(messaggi::registro().size(), 3); // message, question, message again
        QCOMPARE(messaggi::registro().at(0).testo, TestoNonImpostato);
        QCOMPARE(messaggi::registro().at(1).icona, messaggi::Icona::Domanda);
        QCOMPARE(messaggi::registro().at(2).testo, TestoNonImpostato);
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione 2"));
        QCOMPARE(uscita.volte(), 0);
    }

    void fileIlleggibileRiportatoSenzaImpostazioni() {
        AmbienteProva amb;
        QVERIFY(QDir().mkdir("percorsi.txt"));
        UscitaIntercettata uscita;
        Operatore operatore;
        Apertura a;
        a.show();
        QVERIFY(!carica(a));
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(uscita.ultimoCodice(), 1);
        QVERIFY(!a.isVisible());
        QCOMPARE(operatore.impoReteViste, 0);
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().icona, messaggi::Icona::Critica);
        QVERIFY(messaggi::registro().first().testo.contains("75"));
    }

    void fileConUnSoloValoreRiportato() {
        AmbienteProva amb;
        scriviFile("percorsi.txt", ("\"" + amb.archivio() + "\"\r\n").toUtf8());
        UscitaIntercettata uscita;
        Operatore operatore;
        Apertura a;
        QVERIFY(!carica(a));
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(operatore.impoReteViste, 0);
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().icona, messaggi::Icona::Critica);
        QVERIFY(messaggi::registro().first().testo.contains("62"));
    }

    void cartellaMancanteRiprovaConLaCartellaSalvata() {
        AmbienteProva amb;
        const QString mancante = amb.cartella() + "/non-esiste";
        scriviFile("percorsi.txt", ("\"" + mancante + "\",6\r\n").toUtf8());
        UscitaIntercettata uscita;
        Operatore operatore;
        operatore.azioni << salvaCon(amb.archivio(), 6);
        Apertura a;
        QVERIFY(carica(a));
        QCOMPARE(operatore.impoReteViste, 1);
        // The retry read the settings file again and used the folder saved meanwhile.
        QCOMPARE(PercorsoArchivi, amb.archivio());
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione 6"));
        QCOMPARE(a.Label3()->text(), nomeUtente(amb, 6));
        QVERIFY(messaggi::registro().isEmpty()); // no message before the settings window here
        QVERIFY(!QDir(mancante).exists());
        QCOMPARE(uscita.volte(), 0);
    }

    void databaseMancanteChiusoSenzaSalvareUscita() {
        AmbienteProva amb;
        QVERIFY(QFile::remove(amb.file("QVR.mdb")));
        amb.scriviPercorsi(1);
        UscitaIntercettata uscita;
        Operatore operatore;
        operatore.azioni << chiudiERispondi(QMessageBox::No) << chiudiERispondi(QMessageBox::Yes);
        Apertura a;
        QVERIFY(!carica(a));
        QCOMPARE(operatore.impoReteViste, 2); // the archive stayed unreachable: back again
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(uscita.ultimoCodice(), 0);
        QCOMPARE(messaggi::registro().size(), 2);
        QVERIFY(!QFile::exists(amb.file("QVR.mdb"))); // never created by the client
    }

    void databaseDanneggiatoRiportato() {
        AmbienteProva amb;
        scriviFile(amb.file("QVR.mdb"), QByteArray(4096, 'x'));
        amb.scriviPercorsi(1);
        UscitaIntercettata uscita;
        Operatore operatore;
        Apertura a;
        a.show();
        QVERIFY(!carica(a));
        QCOMPARE(operatore.impoReteViste, 0);
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(uscita.ultimoCodice(), 1);
        QVERIFY(!a.isVisible());
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().icona, messaggi::Icona::Critica);
        QVERIFY(messaggi::registro().first().testo.contains("Errore n. 3"));
    }

    void guastiDopoLApertura_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("sql"); // empty: remove the file
        QTest::addColumn<int>("numero");
        QTest::newRow("Totem.mdb mancante") << "Totem.mdb"
                                            << "" << 3024;
        QTest::newRow("posto Null") << "QVR.mdb"
                                    << "update PostazioneUtente set Posto8ID=NULL" << 94;
        QTest::newRow("Configurazione vuota") << "Totem.mdb"
                                              << "delete from Configurazione" << 3021;
    }
    void guastiDopoLApertura() {
        QFETCH(QString, file);
        QFETCH(QString, sql);
        QFETCH(int, numero);
        AmbienteProva amb;
        if (sql.isEmpty())
            QVERIFY(QFile::remove(amb.file(file)));
        else
            esegui(amb.file(file), sql);
        amb.scriviPercorsi(8);
        UscitaIntercettata uscita;
        Operatore operatore;
        Apertura a;
        QVERIFY(!carica(a));
        QCOMPARE(operatore.impoReteViste, 0); // no recovery past the first open
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().icona, messaggi::Icona::Critica);
        QVERIFY2(messaggi::registro().first().testo.contains(QString::number(numero)),
                 qPrintable(messaggi::registro().first().testo));
    }

    void secondaCaricaSuLauncherNascosto() {
        AmbienteProva amb;
        amb.scriviPercorsi(9);
        UscitaIntercettata uscita;
        Apertura primo;
        QVERIFY(apriPrimaFinestra(primo));
        QVERIFY(!primo.totemSpuntato());
        primo.PB1(2)->click();
        QCOMPARE(TotemInUso, false);

        // Another station switched the kiosk on meanwhile: the hidden load sees it, and
        // TotemInUso stays as "Avvia Client" set it.
        esegui(amb.file("Totem.mdb"), "update Configurazione set RHDSN='SI'");
        Apertura nascosto;
        QVERIFY(carica(nascosto));
        QVERIFY(nascosto.totemSpuntato());
        QVERIFY(!nascosto.isVisible());
        QCOMPARE(NumeroPostazione, 9);
        QCOMPARE(TotemInUso, false);
        // And once more on the same window.
        esegui(amb.file("Totem.mdb"), "update Configurazione set RHDSN='NO'");
        QVERIFY(carica(nascosto));
        QVERIFY(!nascosto.totemSpuntato());
        QCOMPARE(uscita.volte(), 0);
    }

    void secondaCaricaNascostaConLeSueUscite() {
        AmbienteProva amb;
        amb.scriviPercorsi(1);
        UscitaIntercettata uscita;
        Apertura primo;
        QVERIFY(carica(primo));
        esegui(amb.file("QVR.mdb"), "update PostazioneUtente set Posto1ID=999");
        Apertura nascosto;
        QVERIFY(!carica(nascosto));
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().testo, QStringLiteral("Nessun Utente inserito !"));
    }

    void etichettaApreImpostazioniSenzaRileggere() {
        AmbienteProva amb;
        amb.scriviPercorsi(1);
        UscitaIntercettata uscita;
        Apertura a;
        QVERIFY(apriPrimaFinestra(a));
        const QString utente = a.Label3()->text();
        Operatore operatore;
        operatore.azioni << salvaCon(amb.archivio(), 9);
        QTest::mouseClick(a.Label2(), Qt::LeftButton);
        QCOMPARE(operatore.impoReteViste, 1);
        QCOMPARE(operatore.messaggiVisti.size(), 1);
        QCOMPARE(a.Label1(0)->text(), QStringLiteral("Postazione 1"));
        QCOMPARE(a.Label3()->text(), utente);
        QCOMPARE(NumeroPostazione, 1);

        // From the keyboard too.
        a.Label2()->setFocus();
        QTest::keyClick(a.Label2(), Qt::Key_Space);
        QCOMPARE(operatore.impoReteViste, 2);
        QCOMPARE(uscita.volte(), 0);
        QVERIFY(a.isVisible());
    }

    // A screen reader meets the link label as a link named by its caption, and can press it.
    void etichettaAccessibileComeCollegamento() {
        EtichettaCollegamento etichetta(QStringLiteral("Cronologia chiamate"));
        QAccessibleInterface* interfaccia = QAccessible::queryAccessibleInterface(&etichetta);
        QVERIFY(interfaccia);
        QCOMPARE(interfaccia->role(), QAccessible::Link);
        QCOMPARE(interfaccia->text(QAccessible::Name), QStringLiteral("Cronologia chiamate"));
        QAccessibleActionInterface* azioni = interfaccia->actionInterface();
        QVERIFY(azioni);
        QVERIFY(azioni->actionNames().contains(QAccessibleActionInterface::pressAction()));
        QSignalSpy attivata(&etichetta, &EtichettaCollegamento::attivata);
        azioni->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(attivata.size(), 1);
        // The caption that changes is what the reader says next.
        etichetta.setText(QStringLiteral("Chiudi Cronologia chiamate"));
        QCOMPARE(interfaccia->text(QAccessible::Name),
                 QStringLiteral("Chiudi Cronologia chiamate"));
    }
};

QTEST_MAIN(TestApertura)
#include "test_apertura.moc"
