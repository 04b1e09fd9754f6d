// The number request dialog: standard and single numbering, refusals, keys, held counter file.
#include "app/globali.h"
#include "archive/contatore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "dialogs/boxinputta.h"
#include "dialogs/campo_numero.h"
#include "dialogs/messaggi.h"
#include "supporto.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

using namespace qvr;
using qvr::test::AmbienteProva;
using qvr::test::contenuto;
using qvr::test::scriviFile;
using qvr::test::UscitaIntercettata;

namespace {
const QString Domanda =
    QStringLiteral("L'impostazione del Numero per la numerazione singola\r"
                   "serve per azzerare la numerazione o impostarla direttamente\r"
                   "dal client da cui si opera. Ovviamente ha effetto anche per tutti\r"
                   "gli altri client che dovessero essere ancora attivi e al lavoro !\r"
                   "    \r"
                   "   \r"
                   "Proseguire con l'operazione ?");

} // namespace

class TestBoxinputta : public QObject {
    Q_OBJECT

    // One archive for station 3 and the console's two labels, with a known display record.
    struct Banco {
        AmbienteProva ambiente;
        QLabel numero{QStringLiteral("7")};
        QLabel stato{QStringLiteral("In corso...")};
        std::unique_ptr<boxinputta> dialogo;

        explicit Banco(const QString& modo, int postazione = 3) {
            PercorsoArchivi = ambiente.archivio();
            NumeroPostazione = postazione;
            test::esegui(qvrb(), QStringLiteral("UPDATE NumeriCode%1 SET NumeroA1=7, StatoN1=3, "
                                                "F1='T'")
                                     .arg(postazione));
            scriviFile(contatoreFile(), QByteArrayLiteral("41\r\n"));
            dialogo = std::make_unique<boxinputta>(&numero, &stato);
            dialogo->Label1()->setText(modo);
            dialogo->show();
            QApplication::setActiveWindow(dialogo.get());
            if (!QTest::qWaitForWindowActive(dialogo.get()))
                qWarning("dialog not active: focus checks will fail");
        }
        QString qvrb() const { return ambiente.file(nomi::FileQVRB); }
        QString contatoreFile() const { return ambiente.file(nomi::FileContatore); }
        QVariant campo(const QString& nome) const {
            return test::interroga(
                qvrb(),
                QStringLiteral("SELECT %1 FROM NumeriCode%2").arg(nome).arg(NumeroPostazione));
        }
        CampoNumero* f() const { return dialogo->findChild<CampoNumero*>(QStringLiteral("f")); }
        QPushButton* pulsante(int i) const {
            return dialogo->findChild<QPushButton*>(QStringLiteral("Command1_%1").arg(i));
        }
        void digita(const QString& testo) const {
            f()->setFocus(Qt::TabFocusReason);
            f()->selectAll();
            QTest::keyClicks(f(), testo);
        }
        // The display record as this test left it: 7, 3, "T".
        void recordIntatto() const {
            QCOMPARE(campo(QStringLiteral("NumeroA1")).toInt(), 7);
            QCOMPARE(campo(QStringLiteral("StatoN1")).toInt(), 3);
            QCOMPARE(campo(QStringLiteral("F1")).toString(), QStringLiteral("T"));
        }
    };

private slots:
    void init() {
        messaggi::azzeraRegistro();
        // A box that a test does not answer takes its default button instead of waiting.
        messaggi::impostaRispostaAutomatica(true);
    }
    void cleanup() { contatore::impostaLimiteAttesa(5000); }

    void controlliAllApertura() {
        Banco b(boxinputta::ModoStandard);
        auto* d = b.dialogo.get();
        QCOMPARE(d->windowTitle(), QStringLiteral("Richiesta Numero"));
        QCOMPARE(d->findChild<QLabel*>(QStringLiteral("Label"))->text(),
                 QStringLiteral("Inserire il numero da cui ripartire"));
        QCOMPARE(d->findChild<QLabel*>(QStringLiteral("Label1")), d->Label1());
        QCOMPARE(b.f()->text(), QStringLiteral("000"));
        QCOMPARE(b.pulsante(0)->text(), QStringLiteral("Con&ferma"));
        QCOMPARE(b.pulsante(1)->text(), QStringLiteral("C&hiudi"));
        QVERIFY(d->findChild<QGroupBox*>(QStringLiteral("GroupBox2"))->title().isEmpty());
        // The field has the focus at once, its text selected: a digit replaces it.
        QVERIFY(b.f()->hasFocus());
        QTest::keyClick(b.f(), Qt::Key_4);
        QCOMPARE(b.f()->text(), QStringLiteral("4"));
        QTest::keyClicks(b.f(), QStringLiteral("x-,"));
        QCOMPARE(b.f()->text(), QStringLiteral("4"));
    }

    void standardImpostaIlRecord() {
        UscitaIntercettata uscita;
        Banco b(boxinputta::ModoStandard);
        b.digita(QStringLiteral("025"));
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(b.campo(QStringLiteral("NumeroA1")).toDouble(), 25.0);
        QCOMPARE(b.campo(QStringLiteral("StatoN1")).toInt(), 1);
        QCOMPARE(b.campo(QStringLiteral("F1")).toString(), QStringLiteral("F"));
        QCOMPARE(b.numero.text(), QStringLiteral("025"));
        QCOMPARE(b.stato.text(), QStringLiteral("Assente..."));
        QVERIFY(!b.dialogo->isVisible());
        QCOMPARE(b.dialogo->result(), int(QDialog::Accepted));
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("41\r\n"));
        QVERIFY(messaggi::registro().isEmpty());
        QCOMPARE(uscita.volte(), 0);
    }

    void standardNoveCifreEStazioneDieci() {
        Banco b(boxinputta::ModoStandard, 10);
        b.digita(QStringLiteral("999999999"));
        QTest::keyClick(b.f(), Qt::Key_Return);
        QCOMPARE(b.campo(QStringLiteral("NumeroA1")).toLongLong(), 999999999LL);
        QCOMPARE(b.numero.text(), QStringLiteral("999999999"));
        QVERIFY(!b.dialogo->isVisible());
        // The other stations' records are untouched.
        QCOMPARE(test::interroga(b.qvrb(), QStringLiteral("SELECT NumeroA1 FROM NumeriCode1")),
                 QVariant(0));
    }

    void standardZeroRifiutato() {
        Banco b(boxinputta::ModoStandard);
        b.digita(QStringLiteral("000"));
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QVERIFY(b.dialogo->isVisible());
        b.recordIntatto();
        QTest::keyClick(b.f(), Qt::Key_Return);
        QVERIFY(b.dialogo->isVisible());
        // An emptied field counts as 0 too.
        QTest::keyClick(b.f(), Qt::Key_Backspace);
        QVERIFY(b.f()->text().isEmpty());
        QTest::keyClick(b.f(), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(b.dialogo->isVisible());
        b.recordIntatto();
        QCOMPARE(b.numero.text(), QStringLiteral("7"));
        QCOMPARE(b.stato.text(), QStringLiteral("In corso..."));
        QVERIFY(messaggi::registro().isEmpty());
    }

    void invioComeConferma() {
        Banco b(boxinputta::ModoStandard);
        b.digita(QStringLiteral("12"));
        QTest::keyClick(b.f(), Qt::Key_Return);
        QCOMPARE(b.campo(QStringLiteral("NumeroA1")).toInt(), 12);
        QCOMPARE(b.numero.text(), QStringLiteral("12"));
        QVERIFY(!b.dialogo->isVisible());
    }

    void singolaZeroConSi() {
        Banco b(boxinputta::ModoSingola);
        b.digita(QStringLiteral("0"));
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("0,1,3\r\n"));
        QCOMPARE(b.numero.text(), QStringLiteral("0"));
        QCOMPARE(b.stato.text(), QStringLiteral("In corso..."));
        b.recordIntatto();
        QVERIFY(!b.dialogo->isVisible());
        QCOMPARE(b.dialogo->result(), int(QDialog::Accepted));

        QCOMPARE(messaggi::registro().size(), 1);
        const auto& domanda = messaggi::registro().first();
        QCOMPARE(domanda.icona, messaggi::Icona::Domanda);
        QCOMPARE(domanda.titolo, QStringLiteral("Attenzione"));
        QCOMPARE(domanda.testo, Domanda);
        QCOMPARE(domanda.pulsanti, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(domanda.predefinito, QMessageBox::No);
        // The next draw of any station starts again from 1.
        QCOMPARE(contatore::preleva(b.contatoreFile(), false), 1);
    }

    void singolaSenzaZeriIniziali() {
        Banco b(boxinputta::ModoSingola, 10);
        b.digita(QStringLiteral("025"));
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::keyClick(b.f(), Qt::Key_Return);
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("25,1,10\r\n"));
        QCOMPARE(b.numero.text(), QStringLiteral("25"));
        QVERIFY(!b.dialogo->isVisible());
    }

    void singolaCreaIlFileMancante() {
        Banco b(boxinputta::ModoSingola);
        QVERIFY(QFile::remove(b.contatoreFile()));
        b.digita(QStringLiteral("8"));
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("8,1,3\r\n"));
        QVERIFY(!b.dialogo->isVisible());
    }

    void singolaNoNonScrive() {
        Banco b(boxinputta::ModoSingola);
        b.digita(QStringLiteral("5"));
        messaggi::accodaRisposta(QMessageBox::No);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("41\r\n"));
        QVERIFY(b.dialogo->isVisible());
        QCOMPARE(b.f()->text(), QStringLiteral("5"));
        QCOMPARE(b.numero.text(), QStringLiteral("7"));
        // Without an answer the box's default is No.
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("41\r\n"));
        QVERIFY(b.dialogo->isVisible());
        QCOMPARE(messaggi::registro().size(), 2);
    }

    void altraDidascaliaNonFaNulla() {
        Banco b(QStringLiteral("Numerazione standard"));
        b.digita(QStringLiteral("5"));
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QVERIFY(b.dialogo->isVisible());
        b.recordIntatto();
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("41\r\n"));
        QVERIFY(messaggi::registro().isEmpty());
    }

    void chiusuraSenzaModifiche_data() {
        QTest::addColumn<QString>("da");
        QTest::addColumn<int>("tasto");
        QTest::newRow("F12 dal campo") << QStringLiteral("f") << int(Qt::Key_F12);
        QTest::newRow("F12 da Con&ferma") << QStringLiteral("Command1_0") << int(Qt::Key_F12);
        QTest::newRow("F12 da C&hiudi") << QStringLiteral("Command1_1") << int(Qt::Key_F12);
        QTest::newRow("Esc dal campo") << QStringLiteral("f") << int(Qt::Key_Escape);
    }
    void chiusuraSenzaModifiche() {
        QFETCH(QString, da);
        QFETCH(int, tasto);
        Banco b(boxinputta::ModoStandard);
        b.digita(QStringLiteral("33"));
        auto* controllo = b.dialogo->findChild<QWidget*>(da);
        QVERIFY(controllo);
        controllo->setFocus(Qt::TabFocusReason);
        QVERIFY(controllo->hasFocus());
        QTest::keyClick(controllo, Qt::Key(tasto));
        QVERIFY(!b.dialogo->isVisible());
        QCOMPARE(b.dialogo->result(), int(QDialog::Rejected));
        b.recordIntatto();
        QCOMPARE(b.numero.text(), QStringLiteral("7"));
    }

    void chiudi() {
        Banco b(boxinputta::ModoSingola);
        b.digita(QStringLiteral("33"));
        QTest::mouseClick(b.pulsante(1), Qt::LeftButton);
        QVERIFY(!b.dialogo->isVisible());
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("41\r\n"));
        QVERIFY(messaggi::registro().isEmpty());
    }

    void modaleConExec() {
        Banco b(boxinputta::ModoStandard);
        b.dialogo->hide();
        QTimer::singleShot(0, b.dialogo.get(), [&b] {
            QTest::keyClicks(b.f(), QStringLiteral("40"));
            QTest::keyClick(b.f(), Qt::Key_Return);
        });
        QCOMPARE(b.dialogo->exec(), int(QDialog::Accepted));
        QCOMPARE(b.campo(QStringLiteral("NumeroA1")).toInt(), 40);
        QCOMPARE(b.numero.text(), QStringLiteral("40"));
    }

    void contatoreTrattenuto() {
        UscitaIntercettata uscita;
        Banco b(boxinputta::ModoSingola);
        contatore::impostaLimiteAttesa(200);
        const int fd = ::open(QFile::encodeName(b.contatoreFile()).constData(), O_RDWR);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        b.digita(QStringLiteral("5"));
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        ::flock(fd, LOCK_UN);
        ::close(fd);

        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("41\r\n"));
        QVERIFY(b.dialogo->isVisible());
        QCOMPARE(b.numero.text(), QStringLiteral("7"));
        QCOMPARE(uscita.volte(), 0);
        QCOMPARE(messaggi::registro().size(), 2);
        const auto& errore = messaggi::registro().last();
        QCOMPARE(errore.icona, messaggi::Icona::Critica);
        QCOMPARE(errore.titolo, QStringLiteral("QVR"));
        QVERIFY2(errore.testo.startsWith(QStringLiteral("Errore n. 70\n") +
                                         descrizioneErrore(Err::AutorizzazioneNegata)),
                 qPrintable(errore.testo));

        // Once the other station lets go, the same dialog sets the number.
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(contenuto(b.contatoreFile()), QByteArrayLiteral("5,1,3\r\n"));
        QVERIFY(!b.dialogo->isVisible());
    }

    void cartellaIrraggiungibile() {
        UscitaIntercettata uscita;
        Banco b(boxinputta::ModoSingola);
        PercorsoArchivi = b.ambiente.cartella() + QStringLiteral("/manca");
        b.digita(QStringLiteral("5"));
        messaggi::accodaRisposta(QMessageBox::Yes);
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QVERIFY(b.dialogo->isVisible());
        QCOMPARE(uscita.volte(), 0);
        QCOMPARE(b.numero.text(), QStringLiteral("7"));
        const auto& errore = messaggi::registro().last();
        QCOMPARE(errore.titolo, QStringLiteral("QVR"));
        QVERIFY2(errore.testo.startsWith(QStringLiteral("Errore n. 76\n")) ||
                     errore.testo.startsWith(QStringLiteral("Errore n. 53\n")),
                 qPrintable(errore.testo));
        QVERIFY(!QFile::exists(PercorsoArchivi));
    }

    void recordMancanteFermaIlProgramma() {
        UscitaIntercettata uscita;
        Banco b(boxinputta::ModoStandard);
        test::esegui(b.qvrb(), QStringLiteral("DROP TABLE NumeriCode3"));
        b.digita(QStringLiteral("25"));
        QTest::mouseClick(b.pulsante(0), Qt::LeftButton);
        QCOMPARE(uscita.volte(), 1);
        QCOMPARE(b.numero.text(), QStringLiteral("7"));
        QCOMPARE(b.stato.text(), QStringLiteral("In corso..."));
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(messaggi::registro().first().icona, messaggi::Icona::Critica);
        QVERIFY(
            messaggi::registro().first().testo.contains(QString::number(Err::TabellaNonTrovata)));
    }
};

QTEST_MAIN(TestBoxinputta)
#include "test_boxinputta.moc"
