// The archive folder failing under a running console: renamed away, made read-only, or on a
// disk that fills up. A press of the call button, a tick of the kiosk timer and "Imposta numero"
// then give the operator the error number and its description (the central report, or the
// console's own message for Nr4All.txt), nothing crashes, and once the folder is back every
// database is sound, the counter file reads as a number, the records hold what they held and
// the history has no line for a call that did not happen.

#include "archive/contatore.h"
#include "archive/cursore.h"
#include "console_comune.h"
#include "dialogs/boxinputta.h"
#include "dialogs/campo_numero.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <functional>

using namespace qvr;
using namespace qvr::test;

namespace {

const QStringList Database = {QStringLiteral("QVR.mdb"), QStringLiteral("QVRA.mdb"),
                              QStringLiteral("QVRB.mdb"), QStringLiteral("Totem.mdb")};

enum class Guasto { Spostata, SolaLettura, DiscoPieno };
enum class Azione { Chiamata, Timer, ImpostaNumero };

// Files made immutable (root ignores permission bits, not the immutable attribute); undone
// whatever happens to the test.
class Immutabili {
public:
    bool applica(const QStringList& percorsi) {
        for (const QString& p : percorsi) {
            if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), p}) != 0)
                return false;
            m_percorsi.prepend(p);
        }
        return true;
    }
    void togli() {
        for (const QString& p : m_percorsi)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), p});
        m_percorsi.clear();
    }
    ~Immutabili() { togli(); }

private:
    QStringList m_percorsi;
};

// A small tmpfs mounted over the test's working folder (which holds the archive folder).
class DiscoPiccolo {
public:
    bool monta(const QString& cartella, const QString& dimensione) {
        m_cartella = cartella;
        QProcess p;
        p.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=") + dimensione, QStringLiteral("tmpfs"), cartella});
        m_montato =
            p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        m_errore = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return m_montato;
    }
    QString errore() const { return m_errore; }
    ~DiscoPiccolo() {
        if (!m_montato)
            return;
        QDir::setCurrent(QDir::rootPath());
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_cartella});
    }

private:
    QString m_cartella;
    QString m_errore;
    bool m_montato = false;
};

// Fills the file system that holds `cartella` up to the last byte.
void riempi(const QString& cartella) {
    QFile f(cartella + QStringLiteral("/riempitivo"));
    if (!f.open(QIODevice::WriteOnly))
        return;
    const QByteArray blocco(4096, 'x');
    while (f.write(blocco) == blocco.size() && f.flush()) {
    }
    const QByteArray byte(1, 'x');
    while (f.write(byte) == 1 && f.flush()) {
    }
    f.close();
}

struct Stato {
    QVariant display;
    QVariant singola;
    QVariant coda;
    QByteArray contatore;
};

Stato statoArchivio(const ConsoleProva& c) {
    return {c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3"),
            c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle3"),
            c.sql("Totem.mdb", "select P11Q from Numerazione"), c.contatore()};
}

// Opens "Imposta numero", types the number and confirms it; closes the dialog if it stays open.
void impostaNumero(ConsoleProva& c, const QString& numero) {
    QTimer::singleShot(20, [numero] {
        auto* finestra = qobject_cast<boxinputta*>(QApplication::activeModalWidget());
        if (!finestra)
            return;
        finestra->f()->setText(numero);
        if (auto* conferma = finestra->findChild<QPushButton*>(QStringLiteral("Command1_0")))
            conferma->click();
        if (finestra->isVisible())
            finestra->reject();
    });
    c.form->AK(3)->trigger();
}

// The one error message the operator saw (the question of "Imposta numero" apart); its number,
// or 0 with the fault in `difetto`.
int numeroRiportato(QString* difetto) {
    QList<messaggi::Mostrato> errori;
    for (const auto& m : messaggi::registro())
        if (m.icona != messaggi::Icona::Domanda)
            errori << m;
    if (errori.size() != 1) {
        *difetto = QStringLiteral("%1 messaggi").arg(errori.size());
        for (const auto& m : errori)
            *difetto += QStringLiteral(" | ") + m.testo;
        return 0;
    }
    const auto& m = errori.first();
    static const QRegularExpression forma(QStringLiteral(R"(^Errore n\. (\d+)\n(.+)$)"),
                                          QRegularExpression::MultilineOption);
    const auto trovato = forma.match(m.testo);
    if (m.icona != messaggi::Icona::Critica || !trovato.hasMatch()) {
        *difetto = QStringLiteral("messaggio inatteso: ") + m.testo;
        return 0;
    }
    const int numero = trovato.captured(1).toInt();
    if (trovato.captured(2) != descrizioneErrore(numero)) {
        *difetto = QStringLiteral("descrizione sbagliata: ") + m.testo;
        return 0;
    }
    return numero;
}

} // namespace

class TestCartellaGuasta : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Cursore::impostaTimeoutOccupato(300);
        contatore::impostaLimiteAttesa(300);
    }

    void guasti_data() {
        QTest::addColumn<int>("guasto");
        QTest::addColumn<bool>("singola");
        QTest::addColumn<bool>("totem");
        QTest::addColumn<int>("azione");
        QTest::addColumn<QList<int>>("numeri"); // the numbers the operator may be given
        QTest::addColumn<bool>("finisce");      // the program ends (the central report)

        const int via = int(Guasto::Spostata), sola = int(Guasto::SolaLettura),
                  pieno = int(Guasto::DiscoPieno);
        const int chiama = int(Azione::Chiamata), tick = int(Azione::Timer),
                  imposta = int(Azione::ImpostaNumero);
        const QList<int> manca = {3044};
        const QList<int> scrittura = {3051};
        const QList<int> spazio = {61};

        QTest::newRow("spostata, chiamata standard")
            << via << false << false << chiama << manca << true;
        QTest::newRow("spostata, chiamata singola")
            << via << true << false << chiama << QList<int>{76} << false;
        QTest::newRow("spostata, chiamata singola col chiosco")
            << via << true << true << chiama << manca << true;
        QTest::newRow("spostata, timer standard") << via << false << true << tick << manca << false;
        QTest::newRow("spostata, timer singola")
            << via << true << true << tick << QList<int>{76} << false;
        QTest::newRow("spostata, imposta numero standard")
            << via << false << false << imposta << manca << true;
        QTest::newRow("spostata, imposta numero singola")
            << via << true << false << imposta << QList<int>{76} << false;

        QTest::newRow("sola lettura, chiamata standard")
            << sola << false << false << chiama << scrittura << true;
        QTest::newRow("sola lettura, chiamata singola")
            << sola << true << false << chiama << QList<int>{75} << false;
        QTest::newRow("sola lettura, timer singola")
            << sola << true << true << tick << QList<int>{75} << false;
        QTest::newRow("sola lettura, imposta numero standard")
            << sola << false << false << imposta << scrittura << true;
        QTest::newRow("sola lettura, imposta numero singola")
            << sola << true << false << imposta << QList<int>{75} << false;

        QTest::newRow("disco pieno, chiamata standard")
            << pieno << false << false << chiama << spazio << true;
        QTest::newRow("disco pieno, chiamata singola")
            << pieno << true << false << chiama << spazio << true;
        QTest::newRow("disco pieno, timer singola")
            << pieno << true << true << tick << spazio << false;
        QTest::newRow("disco pieno, imposta numero standard")
            << pieno << false << false << imposta << spazio << true;
    }

    void guasti() {
        QFETCH(int, guasto);
        QFETCH(bool, singola);
        QFETCH(bool, totem);
        QFETCH(int, azione);
        QFETCH(QList<int>, numeri);
        QFETCH(bool, finisce);

        OpzioniArchivio opzioni;
        opzioni.modi[2] = singola ? QStringLiteral("SG") : QStringLiteral("ST");
        opzioni.totem = totem;
        ConsoleProva c(3, opzioni, false);
        QTemporaryDir fuoriDalDisco;
        Immutabili immutabili;
        DiscoPiccolo disco;

        if (Guasto(guasto) == Guasto::DiscoPieno) {
            // The working folder (history, percorsi.txt) and the archive on a 256 KiB disk.
            if (!disco.monta(c.ambiente.cartella(), QStringLiteral("256k")))
                QSKIP(qPrintable(QStringLiteral("tmpfs non montabile qui: ") + disco.errore()));
            QDir::setCurrent(c.ambiente.cartella());
            creaArchivio(c.ambiente.archivio(), opzioni);
            c.ambiente.scriviPercorsi(3);
            // The single-copy lock is no file of the station's: it stays off the small disk.
            CopiaUnica::impostaPercorsoPredefinito(
                fuoriDalDisco.filePath(QStringLiteral("copia.lock")));
        }
        esegui(c.file("Totem.mdb"), "update Numerazione set P3=60, P11=20, P11Q=20");
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=41, StatoN1=3");
        c.scriviContatore("5\r\n");
        QVERIFY(c.carica());
        c.form->cronologia().impostaOrologio(
            orologioFisso({QDateTime(QDate(2026, 12, 7), QTime(9, 15))}));
        // One call that works, so that the history holds a line before the fault.
        c.form->Command1(0)->click();
        QCOMPARE(c.uscita.volte(), 0);
        QVERIFY2(messaggi::registro().isEmpty(), qPrintable(messaggi::registro().value(0).testo));
        const QByteArray storiaPrima = c.cronologia(3);
        QVERIFY(storiaPrima.endsWith("\r\n"));
        Stato prima = statoArchivio(c);

        const QString archivio = c.ambiente.archivio();
        const QString altrove = archivio + QStringLiteral(".altrove");
        switch (Guasto(guasto)) {
        case Guasto::Spostata:
            QVERIFY(QDir().rename(archivio, altrove));
            break;
        case Guasto::SolaLettura: {
            QStringList percorsi;
            for (const QString& nome : QDir(archivio).entryList(QDir::Files))
                percorsi << archivio + QLatin1Char('/') + nome;
            percorsi << archivio;
            if (!immutabili.applica(percorsi))
                QSKIP("chattr +i non disponibile su questo disco");
            break;
        }
        case Guasto::DiscoPieno:
            // The kiosk issues a ticket first, so the count to write differs from the one stored
            // (the engine does not rewrite a row with the values it already holds).
            esegui(c.file("Totem.mdb"), "update Numerazione set P11=P11+1");
            riempi(c.ambiente.cartella());
            prima = statoArchivio(c);
            break;
        }

        if (singola && Azione(azione) == Azione::ImpostaNumero)
            messaggi::accodaRisposta(QMessageBox::Yes); // "Proseguire con l'operazione ?"
        switch (Azione(azione)) {
        case Azione::Chiamata:
            c.form->Command1(0)->click();
            break;
        case Azione::Timer:
            QMetaObject::invokeMethod(c.form->Timer1(), "timeout", Qt::DirectConnection);
            break;
        case Azione::ImpostaNumero:
            impostaNumero(c, QStringLiteral("25"));
            break;
        }

        // The operator was told, with the number and its description.
        QString difetto;
        const int numero = numeroRiportato(&difetto);
        QVERIFY2(numero != 0, qPrintable(difetto));
        qInfo("errore %d riportato", numero);
        QVERIFY2(numeri.contains(numero), qPrintable(QStringLiteral("errore %1").arg(numero)));
        QCOMPARE(c.uscita.volte(), finisce ? 1 : 0); // a kiosk refresh never ends the program

        // The folder comes back: nothing was lost or half written.
        switch (Guasto(guasto)) {
        case Guasto::Spostata:
            QVERIFY(QDir().rename(altrove, archivio));
            break;
        case Guasto::SolaLettura:
            immutabili.togli();
            break;
        case Guasto::DiscoPieno:
            QVERIFY(QFile::remove(c.ambiente.cartella() + QStringLiteral("/riempitivo")));
            break;
        }
        for (const QString& db : Database)
            QCOMPARE(interroga(c.file(db), "pragma integrity_check").toString(),
                     QStringLiteral("ok"));
        const Stato dopo = statoArchivio(c);
        QCOMPARE(dopo.display, prima.display);
        QCOMPARE(dopo.coda, prima.coda);
        // A single-numbering call on a full disk may have drawn its number before the record
        // failed: the counter then holds the next number, never an empty or broken one.
        QVERIFY(contatore::leggiLong(c.file("Nr4All.txt")) >= 5);
        if (!(Guasto(guasto) == Guasto::DiscoPieno && singola &&
              Azione(azione) == Azione::Chiamata))
            QCOMPARE(dopo.contatore, prima.contatore);
        QCOMPARE(dopo.singola, prima.singola);
        if (dopo.contatore != prima.contatore) // drawn, not published: the history keeps it
            QVERIFY(
                c.cronologia(3).startsWith(storiaPrima) &&
                c.cronologia(3).contains(
                    "\"" + QByteArray::number(contatore::leggiLong(c.file("Nr4All.txt"))) + "\""));
        else
            QCOMPARE(c.cronologia(3), storiaPrima);
    }

    void discoPienoAMetaRigaDellaCronologia() {
        // The archive has room, the working folder does not: the call is published, the history
        // line finds room for its first bytes only. The operator gets error 61, and the history
        // keeps whole lines only: no line cut in the middle.
        ConsoleProva c(3, {}, false);
        QTemporaryDir fuoriDalDisco;
        DiscoPiccolo lavoro;
        if (!lavoro.monta(c.ambiente.cartella(), QStringLiteral("256k")))
            QSKIP(qPrintable(QStringLiteral("tmpfs non montabile qui: ") + lavoro.errore()));
        QDir::setCurrent(c.ambiente.cartella());
        QVERIFY(QDir().mkpath(c.ambiente.archivio()));
        DiscoPiccolo archivio;
        QVERIFY2(archivio.monta(c.ambiente.archivio(), QStringLiteral("1m")),
                 qPrintable(archivio.errore()));
        creaArchivio(c.ambiente.archivio(), {});
        esegui(c.file("QVRB.mdb"), "update NumeriCode3 set NumeroA1=41, StatoN1=3");
        c.ambiente.scriviPercorsi(3);
        CopiaUnica::impostaPercorsoPredefinito(
            fuoriDalDisco.filePath(QStringLiteral("copia.lock")));

        // Lines of an earlier run fill the history file's first 4 KiB page up to 8 bytes.
        const QByteArray riga("\"1\",\"09.00\",\"07/12/2026\",0\r\n");
        QByteArray storia;
        while (storia.size() + riga.size() <= 4096 - 8)
            storia += riga;
        {
            QFile f(c.ambiente.cartella() + QStringLiteral("/Cronologia-03.txt"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(storia), storia.size());
        }
        QVERIFY(c.carica());
        c.form->cronologia().impostaOrologio(
            orologioFisso({QDateTime(QDate(2026, 12, 7), QTime(9, 15))}));
        riempi(c.ambiente.cartella());

        c.form->Command1(0)->click();
        QString difetto;
        QCOMPARE(numeroRiportato(&difetto), 61);
        QCOMPARE(c.uscita.volte(), 1);
        // The call itself reached the archive before the history was written.
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), 42);
        QCOMPARE(interroga(c.file("QVRB.mdb"), "pragma integrity_check").toString(),
                 QStringLiteral("ok"));
        const QByteArray dopo = c.cronologia(3);
        QVERIFY2(dopo.endsWith("\r\n"),
                 qPrintable(QStringLiteral("riga tagliata in fondo alla cronologia: ") +
                            QString::fromLatin1(dopo.right(20))));
        QCOMPARE(dopo, storia);
    }

    void consoleSopravviveAlContatoreIrraggiungibile() {
        // Single numbering without the kiosk: the counter file out of reach is the console's
        // own message; once the folder is back, the next press calls.
        OpzioniArchivio opzioni;
        opzioni.modi[2] = QStringLiteral("SG");
        ConsoleProva c(3, opzioni, false);
        c.scriviContatore("5\r\n");
        QVERIFY(c.carica());
        const QString archivio = c.ambiente.archivio();
        QVERIFY(QDir().rename(archivio, archivio + QStringLiteral(".altrove")));
        c.form->Command1(0)->click();
        QVERIFY(QDir().rename(archivio + QStringLiteral(".altrove"), archivio));
        QCOMPARE(c.uscita.volte(), 0);
        QCOMPARE(messaggi::registro().size(), 1);
        c.form->Command1(0)->click();
        QCOMPARE(messaggi::registro().size(), 1);
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("6"));
        QCOMPARE(c.contatore(), QByteArray("6\r\n"));
        QCOMPARE(c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle3").toInt(), 6);
    }
};

QTEST_MAIN(TestCartellaGuasta)
#include "test_cartella_guasta.moc"
