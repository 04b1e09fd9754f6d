// The client as an operator meets it, without a screen: the kiosk box stored on every change, the
// kiosk monitor's failures reported once, error reports in Italian, a vanished archive reported
// as not found, a nine-digit number and the history columns shown whole, the settings window
// active again after a list of the folder chooser.

#include "console_comune.h"

#include "archive/cursore.h"
#include "archive/nomi.h"
#include "launcher/apertura.h"
#include "launcher/imporete.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTreeWidget>
#include <QWindow>

using namespace qvr;
using namespace qvr::test;

namespace {

OpzioniArchivio opzioni(int stazione, const char* modo, bool totem) {
    OpzioniArchivio o;
    o.modi[stazione - 1] = QString::fromLatin1(modo);
    o.totem = totem;
    return o;
}

void tick(ConsoleProva& c) {
    QMetaObject::invokeMethod(c.form->Timer1(), "timeout", Qt::DirectConnection);
}

// Another program holding the write lock of a database.
class Blocco {
public:
    explicit Blocco(const QString& file) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_nome);
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }
    ~Blocco() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_nome, false);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(m_nome);
    }

private:
    QString m_nome = QStringLiteral("blocco");
};

} // namespace

class TestAlBanco : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Cursore::impostaTimeoutOccupato(150); }
    void init() { azzeraValoriGlobali(); }

    void casellaTotemSalvataAOgniCambio() {
        UscitaIntercettata uscita;
        AmbienteProva ambiente(opzioni(3, "ST", false));
        ambiente.scriviPercorsi(3);
        const QString totem = ambiente.file(QStringLiteral("Totem.mdb"));
        esegui(totem, "create table scritture(n)");
        esegui(totem, "create trigger conta after update on Configurazione begin insert into "
                      "scritture values(1); end");
        auto scritture = [&] { return interroga(totem, "select count(*) from scritture").toInt(); };
        auto rhdsn = [&] {
            return interroga(totem, "select RHDSN from Configurazione").toString();
        };

        Apertura a;
        QVERIFY(eseguiGestito([&] { a.Carica(); }));
        a.show();
        QCOMPARE(scritture(), 0);
        // A screen reader's "Toggle" changes the box: stored at once.
        QAccessibleInterface* accessibile = QAccessible::queryAccessibleInterface(a.CB3());
        QVERIFY(accessibile && accessibile->actionInterface());
        accessibile->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(a.CB3()->isChecked());
        QCOMPARE(rhdsn(), QStringLiteral("SI"));
        // Space on the focused box.
        a.CB3()->setFocus();
        QTest::keyClick(a.CB3(), Qt::Key_Space);
        QVERIFY(!a.CB3()->isChecked());
        QCOMPARE(rhdsn(), QStringLiteral("NO"));
        QCOMPARE(scritture(), 2);
        // The load sets the box from the archive and stores nothing.
        esegui(totem, "update Configurazione set RHDSN='SI'");
        const int prima = scritture();
        QVERIFY(eseguiGestito([&] { a.Carica(); }));
        QVERIFY(a.CB3()->isChecked());
        QCOMPARE(scritture(), prima);
        QCOMPARE(uscita.volte(), 0);
    }

    void monitorRiportaUnaVolta_data() {
        QTest::addColumn<bool>("singola");
        QTest::addColumn<QString>("guasto"); // the archive file taken away
        QTest::newRow("singola, Nr4All.txt mancante") << true << QStringLiteral("Nr4All.txt");
        QTest::newRow("standard, Totem.mdb mancante") << false << QStringLiteral("Totem.mdb");
    }
    void monitorRiportaUnaVolta() {
        QFETCH(bool, singola);
        QFETCH(QString, guasto);
        ConsoleProva c(5, opzioni(5, singola ? "SG" : "ST", true), false);
        c.scriviContatore("52\r\n");
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=57, P5=4");
        QVERIFY(c.carica());
        const QString conteggio = c.form->Label5()->text();
        const QString suggerimento = c.form->Label5()->toolTip();
        QVERIFY(QFile::rename(c.file(guasto), c.file(guasto) + QStringLiteral(".via")));

        for (int i = 0; i < 4; ++i)
            tick(c);
        QCOMPARE(messaggi::registro().size(), 1);
        QVERIFY(messaggi::registro().first().testo.startsWith(QStringLiteral("Errore n. ")));
        QCOMPARE(c.uscita.volte(), 0);
        QCOMPARE(c.form->Label5()->text(), conteggio);
        const QString numero = messaggi::registro().first().testo.section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(c.form->Label5()->toolTip().contains(numero.mid(8)),
                 qPrintable(c.form->Label5()->toolTip()));
        QVERIFY(c.form->Label5()->toolTip().contains(QStringLiteral("non aggiornato")));

        // The fault ends: the count is current again, silently.
        QVERIFY(QFile::rename(c.file(guasto) + QStringLiteral(".via"), c.file(guasto)));
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=60, P5=9");
        tick(c);
        QCOMPARE(c.form->Label5()->text(), singola ? QStringLiteral("8") : QStringLiteral("9"));
        QCOMPARE(c.form->Label5()->toolTip(), suggerimento);
        QCOMPARE(messaggi::registro().size(), 1);
        // A new fault is reported again.
        QVERIFY(QFile::remove(c.file(guasto)));
        tick(c);
        tick(c);
        QCOMPARE(messaggi::registro().size(), 2);
        QCOMPARE(c.uscita.volte(), 0);
    }

    void erroreInItalianoIlMotoreNeiDettagli_data() {
        QTest::addColumn<int>("numero");
        QTest::addColumn<QString>("motore");
        QTest::newRow("tabella mancante") << 3078 << QStringLiteral("no such table");
        QTest::newRow("database bloccato") << 3260 << QStringLiteral("locked");
    }
    void erroreInItalianoIlMotoreNeiDettagli() {
        QFETCH(int, numero);
        QFETCH(QString, motore);
        AmbienteProva ambiente;
        const QString qvrb = ambiente.file(QStringLiteral("QVRB.mdb"));
        std::unique_ptr<Blocco> blocco;
        if (numero == 3078)
            esegui(qvrb, "drop table NumeriCode3");
        else
            blocco = std::make_unique<Blocco>(qvrb);
        messaggi::azzeraRegistro();
        messaggi::impostaRispostaAutomatica(true);
        Cursore c;
        c.impostaDatabase(qvrb);
        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        try {
            c.aggiorna(true);
            c.modifica();
            c.assegna(nomi::CampoNumeroA1, 7);
            c.salva();
            QFAIL("nessun errore");
        } catch (const ErroreQvr& e) {
            riportaErrore(e);
        }
        messaggi::impostaRispostaAutomatica(false);
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QVERIFY2(m.testo.startsWith(
                     QStringLiteral("Errore n. %1\n%2").arg(numero).arg(descrizioneErrore(numero))),
                 qPrintable(m.testo));
        QVERIFY2(!m.testo.contains(motore, Qt::CaseInsensitive), qPrintable(m.testo));
        QVERIFY2(m.dettagli.contains(motore, Qt::CaseInsensitive), qPrintable(m.dettagli));
    }

    void cartellaSparitaNonTrovata_data() {
        QTest::addColumn<bool>("sostituita");
        QTest::addColumn<int>("numero");
        QTest::newRow("spostata") << false << 3044;
        QTest::newRow("sostituita da una cartella vuota") << true << 3024;
    }
    void cartellaSparitaNonTrovata() {
        // The folder goes away between the read of the row and its write.
        QFETCH(bool, sostituita);
        QFETCH(int, numero);
        AmbienteProva ambiente;
        const QString archivio = ambiente.archivio();
        Cursore c;
        c.impostaDatabase(ambiente.file(QStringLiteral("QVRB.mdb")));
        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        c.aggiorna(true);
        c.modifica();
        c.assegna(nomi::CampoNumeroA1, 7);
        QVERIFY(QDir().rename(archivio, archivio + QStringLiteral(".via")));
        if (sostituita)
            QVERIFY(QDir().mkdir(archivio));
        QCOMPARE(numeroErrore([&] { c.salva(); }), numero);
        c.chiudi();
    }

    void numeroDiNoveCifreIntero() {
        ConsoleProva c(3);
        QLabel* numero = c.form->Label1(1);
        numero->setText(QStringLiteral("123456789"));
        c.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(c.form.get()));
        // Nothing of the digits touches the label's edges: the number is not cut off.
        const QImage immagine = numero->grab().toImage();
        const QRgb sfondo = immagine.pixel(0, 0);
        for (int y = 0; y < immagine.height(); ++y) {
            QCOMPARE(immagine.pixel(0, y), sfondo);
            QCOMPARE(immagine.pixel(immagine.width() - 1, y), sfondo);
        }
    }

    void colonneDellaCronologiaAlContenuto() {
        ConsoleProva c(3);
        c.form->show();
        NumeroChiamato = 123456789;
        c.form->RegistraChiamata();
        // What each column needs, as a list of the same look with the same rows measures it.
        QTreeWidget* lista = c.form->LB1();
        QTreeWidget campione;
        campione.setFont(lista->font());
        campione.setRootIsDecorated(false);
        campione.header()->setStretchLastSection(false);
        campione.setColumnCount(3);
        campione.setHeaderItem(lista->headerItem()->clone());
        for (int i = 0; i < lista->topLevelItemCount(); ++i)
            campione.addTopLevelItem(lista->topLevelItem(i)->clone());
        for (int colonna = 0; colonna < 3; ++colonna) {
            campione.resizeColumnToContents(colonna);
            QVERIFY2(lista->columnWidth(colonna) >= campione.columnWidth(colonna),
                     qPrintable(QStringLiteral("colonna %1: %2 < %3")
                                    .arg(colonna)
                                    .arg(lista->columnWidth(colonna))
                                    .arg(campione.columnWidth(colonna))));
        }
    }

    void attivaDopoUnaListaAperta_data() {
        QTest::addColumn<bool>("sceltaChiusaPrima");
        QTest::newRow("scelta chiusa, poi il fuoco") << true;
        QTest::newRow("fuoco tornato, poi scelta chiusa") << false;
    }
    void attivaDopoUnaListaAperta() {
        // The folder chooser closes with its name field's completion list still open, and the
        // window system gives the focus back to the settings window before the list has gone.
        QFETCH(bool, sceltaChiusaPrima);
        ImpoRete w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QWidget scelta;
        scelta.show();
        QVERIFY(QTest::qWaitForWindowActive(&scelta));
        QListWidget lista;
        lista.setWindowFlags(Qt::Popup);
        lista.addItem(QStringLiteral("archivio-vero"));
        lista.show();
        QVERIFY(QApplication::activePopupWidget() == &lista);
        if (sceltaChiusaPrima)
            scelta.hide();
        w.windowHandle()->requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), w.windowHandle());
        scelta.hide();
        lista.hide();
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        QVERIFY(QApplication::focusWidget() && QApplication::focusWidget()->window() == &w);
    }
};

QTEST_MAIN(TestAlBanco)
#include "test_al_banco.moc"
