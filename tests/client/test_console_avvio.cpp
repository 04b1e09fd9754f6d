// The console's load, controls, placement, history list and the single-copy check.

#include "app/fine_sessione.h"
#include "app/twips.h"
#include "archive/errori.h"
#include "console_comune.h"
#include "dialogs/campo_numero.h"
#include "dialogs/msgform.h"
#include "launcher/apertura.h"

#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QLockFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTreeWidget>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace qvr;
using namespace qvr::test;

namespace {
OpzioniArchivio conModo(int stazione, const QString& modo) {
    OpzioniArchivio o;
    o.modi[stazione - 1] = modo;
    return o;
}
} // namespace

class TestConsoleAvvio : public QObject {
    Q_OBJECT

private slots:
    void stazione3Standard() {
        ConsoleProva c(3, {}, false);
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=17");
        QVERIFY(c.carica());
        Form1& f = *c.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("QVR - 3.7.2 - Modulo Client"));
        QCOMPARE(f.Label1(0)->text(), QStringLiteral("Postazione 3"));
        QCOMPARE(f.Label1(1)->text(), QStringLiteral("17"));
        QCOMPARE(f.Label1(2)->text(), QStringLiteral("Presente"));
        QCOMPARE(f.Label3()->text(), QStringLiteral("ST"));
        QVERIFY(!ModoSingolo);
        QCOMPARE(NumeroPostazione, 3);
        QCOMPARE(f.TabellaDisplay(), QStringLiteral("NumeriCode3"));
        QVERIFY(QFile::exists(c.ambiente.cartella() + "/Cronologia-03.txt"));
        QVERIFY(f.cronologia().aperta());
        QVERIFY(f.aperturaNascosta() && f.aperturaNascosta()->isHidden());
        for (int i = 1; i <= 6; ++i)
            QVERIFY(f.AK(i)->isEnabled());
        QVERIFY(f.Label4()->isHidden());
        QVERIFY(f.Label5()->isHidden());
        QVERIFY(!f.Timer1()->isActive());
        QVERIFY(f.GB1()->isHidden());
        QVERIFY(messaggi::registro().isEmpty());
        QCOMPARE(c.uscita.volte(), 0);
    }

    void controlliEDidascalie() {
        ConsoleProva c(1);
        Form1& f = *c.form;
        auto testo = [&](const char* nome) {
            auto* w = c.controllo<QWidget>(QString::fromLatin1(nome));
            if (!w)
                return QStringLiteral("<manca %1>").arg(QLatin1String(nome));
            if (auto* l = qobject_cast<QLabel*>(w))
                return l->text();
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                return b->text();
            if (auto* g = qobject_cast<QGroupBox*>(w))
                return g->title();
            if (auto* e = qobject_cast<QLineEdit*>(w))
                return e->text();
            return QStringLiteral("<tipo>");
        };
        QCOMPARE(testo("Command1_0"), QStringLiteral(" Avanti     "));
        QCOMPARE(testo("Command1_1"), QStringLiteral("Attendere"));
        QCOMPARE(testo("Label2"), QStringLiteral("Cronologia chiamate"));
        QCOMPARE(testo("Label4"), QStringLiteral("99"));
        QCOMPARE(testo("Label5"), QStringLiteral("0"));
        QCOMPARE(testo("GB1"), QStringLiteral("Manuale"));
        QCOMPARE(testo("f"), QStringLiteral("00000"));
        QCOMPARE(testo("SelNum"), QStringLiteral("Chiama Nr."));
        QVERIFY(qobject_cast<CampoNumero*>(c.controllo<QWidget>("f")));
        QCOMPARE(c.controllo<QWidget>("Label3")->toolTip(),
                 QStringLiteral("SG = Numerazione Singola  ST = Numerazione Standard"));
        QCOMPARE(c.controllo<QWidget>("Label4")->toolTip(),
                 QStringLiteral("Dopo il nr 99 chiama il nr 1"));
        QCOMPARE(c.controllo<QWidget>("Label5")->toolTip(),
                 QStringLiteral("Persone in Coda per il servizio"));
        QCOMPARE(c.controllo<QWidget>("Label2")->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(c.controllo<QTimer>("Timer1")->interval(), 32000);

        auto* menu = c.controllo<QMenu>("s1");
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Selezione funzioni"));
        const QStringList attese = {"Numero precedente", "Azzera numeri",      "Imposta numero", "",
                                    "Modalità manuale",  "Modalità automatica"};
        const auto azioni = menu->actions();
        QCOMPARE(azioni.size(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(azioni[i]->objectName(), QStringLiteral("AK%1").arg(i + 1));
            QCOMPARE(azioni[i]->isSeparator(), i == 3);
            if (i != 3)
                QCOMPARE(azioni[i]->text(), attese[i]);
        }

        // History list: three columns with their widths; GB1 over the two call buttons.
        auto* lista = c.controllo<QTreeWidget>("LB1");
        QCOMPARE(lista->columnCount(), 3);
        QCOMPARE(lista->headerItem()->text(0), QStringLiteral("Numero"));
        QCOMPARE(lista->headerItem()->text(1), QStringLiteral("Orario"));
        QCOMPARE(lista->headerItem()->text(2), QStringLiteral("Tempo trasc."));
        // At least as designed; wider where the header needs it.
        QVERIFY(lista->columnWidth(0) >= twipsX(1000));
        QVERIFY(lista->columnWidth(1) >= twipsX(900));
        QVERIFY(lista->columnWidth(2) >= twipsX(1535));
        QCOMPARE(lista->geometry(), QRect(twipsX(120), twipsY(1440), twipsX(3735), twipsY(2775)));
        const QRect gb1(twipsX(120), twipsY(120), twipsX(1500), twipsY(1185));
        QCOMPARE(f.GB1()->geometry(), gb1);
        QVERIFY(gb1.contains(f.Command1(0)->geometry()));
        QVERIFY(gb1.contains(f.Command1(1)->geometry()));
        // The client area below the menu.
        QCOMPARE(f.centralWidget()->size(), twipsSize(4125, 1365));
        // The list lies below what is shown while the history is hidden.
        QVERIFY(lista->geometry().top() >= f.centralWidget()->height());
    }

    void stazione10Singola() {
        ConsoleProva c(10, conModo(10, "SG"), false);
        c.scriviContatore("57\r\n");
        // The display table is not read in single numbering.
        esegui(c.file("QVRB.mdb"), "drop table NumeriCode10");
        QVERIFY(c.carica());
        Form1& f = *c.form;
        QCOMPARE(f.Label1(0)->text(), QStringLiteral("Postazione 10"));
        QCOMPARE(f.Label1(1)->text(), QStringLiteral("57"));
        QCOMPARE(f.Label3()->text(), QStringLiteral("SG"));
        QVERIFY(ModoSingolo);
        QVERIFY(QFile::exists(c.ambiente.cartella() + "/Cronologia-10.txt"));
        QVERIFY(!f.AK(1)->isEnabled());
        QVERIFY(!f.AK(2)->isEnabled());
        QVERIFY(f.AK(3)->isEnabled());
        QVERIFY(!f.AK(5)->isEnabled());
        QVERIFY(!f.AK(6)->isEnabled());
        QCOMPARE(c.contatore(), QByteArray("57\r\n"));
    }

    void contatoreConImpostazione() {
        // "0,1,3" left by the set-number dialog: the console shows its first item.
        ConsoleProva c(2, conModo(2, "SG"), false);
        c.scriviContatore("0,1,3\r\n");
        QVERIFY(c.carica());
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("0"));
    }

    void campoModo_data() {
        QTest::addColumn<QString>("valore");
        QTest::addColumn<QString>("etichetta");
        QTest::newRow("SG") << "'SG'"
                            << "SG";
        QTest::newRow("sg") << "'sg'"
                            << "ST";
        QTest::newRow("vuoto") << "''"
                               << "ST";
        QTest::newRow("Null") << "NULL"
                              << "ST";
        QTest::newRow("SG con spazio") << "'SG '"
                                       << "ST";
    }
    void campoModo() {
        QFETCH(QString, valore);
        QFETCH(QString, etichetta);
        ConsoleProva c(3, {}, false);
        esegui(c.file("QVR.mdb"), "update PostazioneUtente set Posto3SS=" + valore);
        esegui(c.file("QVR.mdb"), "update PostazioneUtente set Posto4SS='SG'");
        QVERIFY(c.carica());
        QCOMPARE(c.form->Label3()->text(), etichetta);
        QCOMPARE(ModoSingolo, etichetta == QStringLiteral("SG"));
    }

    void indicatore99() {
        {
            OpzioniArchivio o = conModo(1, "SG");
            o.dopo99Singola = true;
            ConsoleProva c(1, o);
            QVERIFY(c.form->Dopo99Singola());
            QVERIFY(!c.form->Dopo99Standard());
            QVERIFY(c.form->Label4()->isHidden());
        }
        {
            OpzioniArchivio o = conModo(1, "SG");
            o.dopo99Standard = true;
            ConsoleProva c(1, o);
            QVERIFY(!c.form->Label4()->isHidden()); // whatever the numbering mode
        }
        {
            ConsoleProva c(1, {}, false);
            esegui(c.file("QVR.mdb"),
                   "update Configurazione set NovantanoveSingle=NULL, NovantanoveStandard=NULL");
            QVERIFY(c.carica());
            QVERIFY(!c.form->Dopo99Singola());
            QVERIFY(!c.form->Dopo99Standard());
        }
    }

    void chioscoAllAvvio() {
        {
            OpzioniArchivio o;
            o.totem = true;
            ConsoleProva c(4, o, false);
            esegui(c.file("Totem.mdb"), "update Numerazione set P4=30");
            esegui(c.file("QVRB.mdb"), "update NumeriCode4 set NumeroA1=27");
            QVERIFY(c.carica());
            QVERIFY(!c.form->Label5()->isHidden());
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("3"));
            QVERIFY(c.form->Timer1()->isActive());
            QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 0);
        }
        {
            OpzioniArchivio o = conModo(4, "SG");
            o.totem = true;
            ConsoleProva c(4, o, false);
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=57");
            c.scriviContatore("52\r\n");
            QVERIFY(c.carica());
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("5"));
            QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 5);
        }
        {
            // Kiosk not in use: no refresh at load, Label5 hidden, no timer.
            ConsoleProva c(4, conModo(4, "SG"), false);
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=57, P11Q=9");
            c.scriviContatore("52\r\n");
            QVERIFY(c.carica());
            QVERIFY(c.form->Label5()->isHidden());
            QVERIFY(!c.form->Timer1()->isActive());
            QCOMPARE(c.form->Label5()->text(), QStringLiteral("0"));
            QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 9);
        }
    }

    void contatoreIllegibileAllAvvio() {
        // Nr4All.txt missing: reported with its number, the console starts without its number
        // and without the kiosk refresh, and the program goes on.
        OpzioniArchivio o = conModo(5, "SG");
        o.totem = true;
        ConsoleProva c(5, o, false);
        esegui(c.file("Totem.mdb"), "update Numerazione set P11=57, P11Q=9");
        QVERIFY(rimuoviFileArchivio(c.file("Nr4All.txt")));
        QVERIFY(c.carica());
        QCOMPARE(c.uscita.volte(), 0);
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QCOMPARE(m.titolo, QStringLiteral("QVR"));
        QVERIFY(m.icona == messaggi::Icona::Critica);
        QVERIFY2(m.testo.contains(QStringLiteral("Errore n. 53")), qPrintable(m.testo));
        QVERIFY(m.testo.contains(descrizioneErrore(53)));
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("Numero"));
        QCOMPARE(c.form->Label5()->text(), QStringLiteral("0"));
        QCOMPARE(c.sql("Totem.mdb", "select P11Q from Numerazione").toInt(), 9);
        QVERIFY(c.form->cronologia().aperta());
    }

    void erroreArchivioAllAvvio() {
        // Any other failure during load is the central report, then the program ends.
        ConsoleProva c(3, {}, false);
        esegui(c.file("QVRB.mdb"), "drop table NumeriCode3");
        QVERIFY(!c.carica());
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.uscita.ultimoCodice(), 1);
        QVERIFY(messaggi::registro().last().testo.contains(QStringLiteral("3078")));
        QVERIFY(!c.form->cronologia().aperta()); // the ending closed the history file
    }

    void secondaCopia() {
        ConsoleProva c(3, {}, false);
        CopiaUnica prima; // the copy already running
        QVERIFY(prima.acquisisci());
        QVERIFY(!c.carica());
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QCOMPARE(m.testo,
                 QStringLiteral("QVR-Modulo Client  risulta già in esecuzione sulla macchina !"));
        QCOMPARE(m.titolo, QStringLiteral("ATTENZIONE"));
        QVERIFY(m.icona == messaggi::Icona::Critica);
        // Nothing else of the load ran.
        QVERIFY(!c.form->aperturaNascosta());
        QVERIFY(!QFile::exists(c.ambiente.cartella() + "/Cronologia-03.txt"));
        QVERIFY(prima.acquisita()); // the running copy keeps its lock
    }

    void copiaCaduta() {
        // The lock of a copy that ended without releasing it does not block the next start.
        ConsoleProva c(3, {}, false);
        QProcess figlio;
        figlio.start(QStringLiteral("true"));
        QVERIFY(figlio.waitForFinished());
        const qint64 pidMorto = figlio.processId() ? figlio.processId() : 999999;
        QFile blocco(CopiaUnica::percorsoPredefinito());
        QVERIFY(blocco.open(QIODevice::WriteOnly));
        blocco.write(QByteArray::number(pidMorto) + "\nqvr-client\n" +
                     QSysInfo::machineHostName().toUtf8() + "\n");
        blocco.close();
        QVERIFY(c.carica());
        QCOMPARE(c.uscita.volte(), 0);
        // And the lock is ours now: another copy is refused.
        CopiaUnica seconda;
        QVERIFY(!seconda.acquisisci());
    }

    void nessunoBloccaLAvvio_data() {
        QTest::addColumn<QString>("comando"); // run as nobody in a world-writable folder
        QTest::newRow("file di scarto") << "printf junk > \"$L\"";
        QTest::newRow("cartella") << "mkdir \"$L\"";
        QTest::newRow("collegamento") << "ln -s /etc/passwd \"$L\"";
        QTest::newRow("processo col nome del programma")
            << "cp /bin/sleep \"$D/qvr-client\" && (\"$D/qvr-client\" 30 & "
               "printf '%s\\nqvr-client\\n%s\\n' $! \"$(hostname)\" > \"$L\")";
    }
    void nessunoBloccaLAvvio() {
        // What another user plants where a lock file would be never stops the start.
        QFETCH(QString, comando);
        if (::geteuid() != 0)
            QSKIP("serve root per piantare i file come un altro utente (nobody)");
        ConsoleProva c(3, {}, false);
        const QString comune = c.ambiente.cartella() + QStringLiteral("/comune");
        QVERIFY(QDir().mkpath(comune));
        QFile::setPermissions(c.ambiente.cartella(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner | QFileDevice::ExeOther);
        QVERIFY(::chmod(QFile::encodeName(comune).constData(), 01777) == 0);
        const QString blocco = comune + QStringLiteral("/qvr-client.lock");
        CopiaUnica::impostaPercorsoPredefinito(blocco);
        QProcess p;
        QProcessEnvironment amb = QProcessEnvironment::systemEnvironment();
        amb.insert(QStringLiteral("L"), blocco);
        amb.insert(QStringLiteral("D"), comune);
        p.setProcessEnvironment(amb);
        p.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                 QStringLiteral("--clear-groups"), QStringLiteral("sh"), QStringLiteral("-c"),
                 comando});
        if (!p.waitForStarted())
            QSKIP("setpriv non disponibile");
        QVERIFY(p.waitForFinished());
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        const QByteArray passwd = [] {
            QFile f(QStringLiteral("/etc/passwd"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const bool caricata = c.carica();
        if (QFileInfo(blocco).isFile() && !QFileInfo(blocco).isSymLink()) {
            QFile planted(blocco); // the process of the last row ends by its own id
            if (planted.open(QIODevice::ReadOnly))
                if (const int pid = planted.readLine().trimmed().toInt(); pid > 0)
                    ::kill(pid, SIGKILL);
        }
        QVERIFY2(caricata, qPrintable(messaggi::registro().value(0).testo));
        QCOMPARE(c.uscita.volte(), 0);
        QVERIFY(messaggi::registro().isEmpty());
        QFile f(QStringLiteral("/etc/passwd"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), passwd); // nothing written through the link
        // Still one copy: a second one is refused.
        CopiaUnica seconda;
        QVERIFY(!seconda.acquisisci());
        QVERIFY(seconda.detentoreECopia());
    }

    void terminazioneComeChiusuraSenzaAzzerare() {
        // SIGTERM (the end of the session): the console ends as a close without reset.
        ConsoleProva c(3);
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=41, StatoN1=3");
        c.form->Command1(0)->click();
        QVERIFY(c.form->cronologia().aperta());
        installaFineSessione();
        ::raise(SIGTERM);
        QTRY_COMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.uscita.ultimoCodice(), 0);
        QVERIFY(messaggi::registro().isEmpty()); // no question asked
        QVERIFY(!c.form->cronologia().aperta());
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), 42);
        CopiaUnica altra; // the check is released
        QVERIFY(altra.acquisisci());
    }

    void collocazioneECronologiaMostrata() {
        ConsoleProva c(3);
        Form1& f = *c.form;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        // An activation: a window of the program opened over the console closes.
        const auto attiva = [&f] {
            MsgForm sopra(&f);
            QTimer::singleShot(50, &sopra, [&sopra] { sopra.PB1(0)->click(); });
            sopra.exec();
        };
        attiva();
        const QRect area = f.screen()->availableGeometry();
        const QPoint posto(area.x() + area.width() - twipsX(4200),
                           area.y() + area.height() - twipsY(2700));
        QCOMPARE(f.pos(), posto);
        const QSize ridotta = f.size();

        auto* etichetta = c.controllo<QLabel>("Label2");
        QTest::mouseClick(etichetta, Qt::LeftButton);
        QCOMPARE(etichetta->text(), QStringLiteral("Chiudi Cronologia chiamate"));
        QCOMPARE(f.pos(), posto - QPoint(0, twipsY(3000)));
        QCOMPARE(f.centralWidget()->height(), twipsY(5130 - 840));
        QCOMPARE(f.width(), ridotta.width());
        auto* lista = c.controllo<QTreeWidget>("LB1");
        QVERIFY(lista->geometry().bottom() < f.centralWidget()->height());

        // Activation while the history is shown: back towards 2700 above the bottom, still tall,
        // but no lower than keeps the whole window on the screen.
        const QPoint alto(posto.x(), area.y() + area.height() - f.frameGeometry().height());
        attiva();
        QCOMPARE(f.pos(), alto);
        QCOMPARE(f.centralWidget()->height(), twipsY(5130 - 840));
        QVERIFY(area.contains(f.frameGeometry()));
        attiva();
        QCOMPARE(f.pos(), alto);

        QTest::mouseClick(etichetta, Qt::LeftButton);
        QCOMPARE(etichetta->text(), QStringLiteral("Cronologia chiamate"));
        QCOMPARE(f.size(), ridotta);
        QCOMPARE(f.pos(), alto + QPoint(0, twipsY(3000)));
        attiva();
        QCOMPARE(f.pos(), posto);

        // Label2 clicked twice from the start: first height and position again.
        QTest::mouseClick(etichetta, Qt::LeftButton);
        QTest::mouseClick(etichetta, Qt::LeftButton);
        QCOMPARE(f.pos(), posto);
        QCOMPARE(f.size(), ridotta);
        f.hide();
    }

    void ordinamentoDellaLista() {
        ConsoleProva c(3);
        Form1& f = *c.form;
        f.cronologia().impostaOrologio(
            orologioFisso({QDateTime(QDate(2026, 12, 7), QTime(9, 0)),
                           QDateTime(QDate(2026, 12, 7), QTime(9, 30)),
                           QDateTime(QDate(2026, 12, 7), QTime(9, 31))}));
        for (int n : {9, 10, 5}) {
            NumeroChiamato = n;
            f.RegistraChiamata();
        }
        auto* lista = f.LB1();
        auto colonna = [&](int col) {
            QStringList v;
            for (int i = 0; i < lista->topLevelItemCount(); ++i)
                v << lista->topLevelItem(i)->text(col);
            return v.join(',');
        };
        QCOMPARE(colonna(0), QStringLiteral("9,10,5")); // in the order added
        QCOMPARE(colonna(1), QStringLiteral("09.00,09.30,09.31"));
        QCOMPARE(colonna(2), QStringLiteral("0,30,1"));
        // A click on any header reverses the direction; the column stays "Numero", as numbers.
        lista->header()->sectionClicked(2);
        QCOMPARE(colonna(0), QStringLiteral("10,9,5"));
        lista->header()->sectionClicked(1);
        QCOMPARE(colonna(0), QStringLiteral("5,9,10"));
        QCOMPARE(lista->sortColumn(), 0);
        // A call recorded after sorting keeps its place in the order.
        NumeroChiamato = 7;
        f.RegistraChiamata();
        QCOMPARE(colonna(0), QStringLiteral("5,7,9,10"));
    }
};

QTEST_MAIN(TestConsoleAvvio)
#include "test_console_avvio.moc"
