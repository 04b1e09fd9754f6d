// The manager's window driven through its controls (found by name), its boxes answered
// through the message seam: two windows changing the same field, the new-day confirmation, an
// unreachable archive, users, today's page following the stations.

#include "ufficio_prova.h"

#include "archive/nomi.h"
#include "finestre/applicazione.h"
#include "finestre/messaggi.h"
#include "registro/deposito.h"
#include "registro/statistiche.h"
#include "ufficio/finestra_ufficio.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace qvr;
using namespace qvr::ufficio;
using qvr::test::UfficioProva;

namespace {

template <typename W> W* trova(QWidget* w, const QString& nome) {
    W* c = w->findChild<W*>(nome);
    if (!c)
        qFatal("controllo %s non trovato", qPrintable(nome));
    return c;
}

// Chooses the entry with `dato` as the operator would.
void scegli(QComboBox* c, const QVariant& dato) {
    const int i = c->findData(dato);
    QVERIFY(i >= 0);
    c->setCurrentIndex(i);
    emit c->activated(i);
}

QList<messaggi::Mostrato> domande() {
    QList<messaggi::Mostrato> d;
    for (const auto& m : messaggi::registro())
        if (m.icona == messaggi::Icona::Domanda)
            d << m;
    return d;
}

} // namespace

class TestUfficioFinestra : public QObject {
    Q_OBJECT
private slots:
    void init() { messaggi::azzeraRegistro(); }

    // The window programs' questions answer "Sì" / "No", as the client's do.
    void pulsantiInItaliano() {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_it.qm"))
            QSKIP("traduzione italiana del toolkit non installata");
        finestre::traduciToolkit(*QCoreApplication::instance());
        QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove('&'), QStringLiteral("Sì"));
    }
    void dueFinestreSulloStessoCampo();
    void giaSalvatoDallAltra();
    void nuovaGiornataChiedeConferma();
    void archivioIrraggiungibile();
    void rimozioneDiUnUtenteInServizio();
    void aggiuntaDiUnUtente();
    void oggiSegueLePostazioni();
    void archivioOccupatoAtteso();
    void statisticheEsportate();
};

void TestUfficioFinestra::dueFinestreSulloStessoCampo() {
    UfficioProva u;
    FinestraUfficio a(u.archivio());
    FinestraUfficio b(u.archivio());
    scegli(trova<QComboBox>(&b, QStringLiteral("utente4")), QVariant::fromValue<qint32>(7));
    QCOMPARE(u.grezzo(Campo::postoId(4)).toInt(), 7);
    QVERIFY(messaggi::registro().isEmpty()); // a routine success opens no box

    // The first window still shows user 4 and chooses user 9: asked, answered no.
    messaggi::accodaRisposta(QMessageBox::No);
    QComboBox* utenteA = trova<QComboBox>(&a, QStringLiteral("utente4"));
    scegli(utenteA, QVariant::fromValue<qint32>(9));
    QCOMPARE(domande().size(), 1);
    const QString testo = domande().last().testo;
    QVERIFY2(testo.contains(QStringLiteral("Davide Greco (id 7)")), qPrintable(testo));
    QVERIFY2(testo.contains(QStringLiteral("Matteo Gallo (id 9)")), qPrintable(testo));
    QCOMPARE(u.grezzo(Campo::postoId(4)).toInt(), 7);
    QCOMPARE(utenteA->currentData().toInt(), 7);

    // Changed again by the other window; answered yes this time: written.
    b.ricarica();
    scegli(trova<QComboBox>(&b, QStringLiteral("utente4")), QVariant::fromValue<qint32>(8));
    messaggi::accodaRisposta(QMessageBox::Yes);
    scegli(utenteA, QVariant::fromValue<qint32>(10));
    QCOMPARE(domande().size(), 2);
    QVERIFY(domande().last().testo.contains(QStringLiteral("Sara Bruno (id 8)")));
    QCOMPARE(u.grezzo(Campo::postoId(4)).toInt(), 10);
    QCOMPARE(utenteA->currentData().toInt(), 10);
    QVERIFY(a.testoStato().contains(QStringLiteral("Elena Conti")));
}

void TestUfficioFinestra::giaSalvatoDallAltra() {
    UfficioProva u;
    FinestraUfficio a(u.archivio());
    FinestraUfficio b(u.archivio());
    trova<QCheckBox>(&b, QStringLiteral("totem"))->click();
    QCOMPARE(u.grezzo(Campo::totem()).toString(), TotemSi);
    QCheckBox* totemA = trova<QCheckBox>(&a, QStringLiteral("totem"));
    QVERIFY(!totemA->isChecked());
    totemA->click();
    QVERIFY(domande().isEmpty());
    QVERIFY2(a.testoStato().contains(QStringLiteral("Già salvato")), qPrintable(a.testoStato()));
    QVERIFY(totemA->isChecked());
    QCOMPARE(u.grezzo(Campo::totem()).toString(), TotemSi);
}

void TestUfficioFinestra::nuovaGiornataChiedeConferma() {
    OpzioniArchivio o;
    o.totem = true;
    UfficioProva u(o);
    emettiBiglietto(u.archivio(), 1);
    emettiBiglietto(u.archivio(), 1);
    const auto p1 = [&] {
        return test::interroga(u.ambiente.file(nomi::FileTotem),
                               QStringLiteral("SELECT [P1] FROM [Numerazione]"))
            .toInt();
    };
    FinestraUfficio w(u.archivio());
    QPushButton* nuova = trova<QPushButton>(&w, QStringLiteral("nuovaGiornata"));
    messaggi::accodaRisposta(QMessageBox::No);
    nuova->click();
    QCOMPARE(p1(), 2);
    QCOMPARE(domande().size(), 1);
    const messaggi::Mostrato d = domande().first();
    for (const QString& parte : {QStringLiteral("P1...P11"), QStringLiteral("Nr4All.txt"),
                                 QStringLiteral("\"Assente...\"")})
        QVERIFY2(d.testo.contains(parte), qPrintable(d.testo));
    QCOMPARE(d.predefinito, QMessageBox::No);

    messaggi::accodaRisposta(QMessageBox::Yes);
    nuova->click();
    QCOMPARE(p1(), 0);
    QCOMPARE(messaggi::registro().size(), 2); // the two questions, no box for the success
    QVERIFY2(w.testoStato().contains(QStringLiteral("Nuova giornata iniziata")),
             qPrintable(w.testoStato()));
}

void TestUfficioFinestra::archivioIrraggiungibile() {
    UfficioProva u;
    messaggi::impostaRispostaAutomatica(true);
    FinestraUfficio w(QStringLiteral("/nonesiste/archivio"));
    messaggi::impostaRispostaAutomatica(false);
    QCOMPARE(messaggi::registro().size(), 1);
    const auto& m = messaggi::registro().first();
    QCOMPARE(m.icona, messaggi::Icona::Critica);
    QVERIFY2(m.testo.contains(QStringLiteral("Errore n. 3044")), qPrintable(m.testo));
    QLabel* avviso = trova<QLabel>(&w, QStringLiteral("avviso"));
    QVERIFY(avviso->isVisibleTo(&w));
    QVERIFY(!trova<QComboBox>(&w, QStringLiteral("utente1"))->isEnabledTo(&w));
    // The window stays usable: another archive opens.
    QVERIFY(w.apri(u.archivio()));
    QVERIFY(trova<QComboBox>(&w, QStringLiteral("utente1"))->isEnabledTo(&w));
    QCOMPARE(messaggi::registro().size(), 1);
}

void TestUfficioFinestra::rimozioneDiUnUtenteInServizio() {
    UfficioProva u;
    FinestraUfficio w(u.archivio());
    QTableWidget* t = trova<QTableWidget>(&w, QStringLiteral("tabellaUtenti"));
    t->selectRow(2); // user 3, at station 3
    messaggi::accodaRisposta(QMessageBox::No);
    trova<QPushButton>(&w, QStringLiteral("rimuovi"))->click();
    QCOMPARE(domande().size(), 1);
    QVERIFY2(domande().last().testo.contains(QStringLiteral("alla postazione 3")),
             qPrintable(domande().last().testo));
    QVERIFY(w.configurazione().utente(3));

    messaggi::accodaRisposta(QMessageBox::Yes);
    t->selectRow(2);
    trova<QPushButton>(&w, QStringLiteral("rimuovi"))->click();
    QVERIFY(!leggiConfigurazione(u.archivio()).utente(3));
    QCOMPARE(trova<QComboBox>(&w, QStringLiteral("utente3"))->currentText(),
             QStringLiteral("3 - (utente inesistente)"));
}

void TestUfficioFinestra::aggiuntaDiUnUtente() {
    UfficioProva u;
    FinestraUfficio w(u.archivio());
    QLineEdit* nome = trova<QLineEdit>(&w, QStringLiteral("nominativo"));
    QSpinBox* id = trova<QSpinBox>(&w, QStringLiteral("id"));
    QPushButton* aggiungi = trova<QPushButton>(&w, QStringLiteral("aggiungi"));
    QCOMPARE(id->value(), 12); // the next free id
    const int utenti = w.configurazione().utenti.size();

    nome->setText(QString(LunghezzaNominativo + 1, QLatin1Char('x')));
    messaggi::accodaRisposta(QMessageBox::Ok);
    aggiungi->click();
    QCOMPARE(messaggi::registro().size(), 1);
    QCOMPARE(messaggi::registro().last().titolo, QStringLiteral("Nominativo non valido"));
    QCOMPARE(leggiConfigurazione(u.archivio()).utenti.size(), utenti);

    nome->setText(QStringLiteral("Nicolò D'Angelo"));
    id->setValue(3);
    messaggi::accodaRisposta(QMessageBox::Ok);
    aggiungi->click();
    QCOMPARE(messaggi::registro().last().titolo, QStringLiteral("Id già in uso"));
    QCOMPARE(nome->text(), QStringLiteral("Nicolò D'Angelo")); // kept for another try
    QCOMPARE(id->value(), 12);
    aggiungi->click();
    QCOMPARE(messaggi::registro().size(), 2);
    QCOMPARE(leggiConfigurazione(u.archivio()).utente(12)->nominativo,
             QStringLiteral("Nicolò D'Angelo"));
    QCOMPARE(trova<QTableWidget>(&w, QStringLiteral("tabellaUtenti"))->rowCount(), utenti + 1);
}

void TestUfficioFinestra::oggiSegueLePostazioni() {
    UfficioProva u;
    FinestraUfficio w(u.archivio());
    QLabel* numero = trova<QLabel>(&w, QStringLiteral("numero1"));
    QTRY_VERIFY_WITH_TIMEOUT(numero->text().contains(nomi::TestoAssente), 10000);
    test::esegui(u.ambiente.file(nomi::FileQVRB),
                 QStringLiteral("UPDATE [NumeriCode1] SET [NumeroA1] = 5, [StatoN1] = 3"));
    QTRY_VERIFY_WITH_TIMEOUT(numero->text().contains(nomi::TestoInCorso), 10000);
    QListWidget* chiamate = trova<QListWidget>(&w, QStringLiteral("chiamate"));
    QCOMPARE(chiamate->count(), 1);
    QVERIFY(chiamate->item(0)->text().endsWith(QStringLiteral("Numero 5, postazione 1")));
    // A change of a station whose last state is a call: the row says what it knows, the state,
    // and that an open console takes the change at its next start.
    scegli(trova<QComboBox>(&w, QStringLiteral("modo1")), ModoSingolo);
    QCOMPARE(trova<QLabel>(&w, QStringLiteral("nota1"))->text(),
             QStringLiteral("Ultimo stato \"In corso...\": se la console è aperta, la modifica "
                            "vale dal suo prossimo avvio"));
    QVERIFY(trova<QLabel>(&w, QStringLiteral("nota2"))->text().isEmpty());
}

// Another program holds QVR.mdb for a while: the change waits for it and is written when the
// database is free, with no error.
void TestUfficioFinestra::archivioOccupatoAtteso() {
    UfficioProva u;
    FinestraUfficio w(u.archivio());
    w.show();
    std::atomic<bool> preso{false};
    std::thread altro([&] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                        QStringLiteral("altro-programma"));
            db.setDatabaseName(u.ambiente.file(nomi::FileQVR));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            preso = true;
            QThread::msleep(1500);
            QVERIFY(q.exec(QStringLiteral("COMMIT")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("altro-programma"));
    });
    QVERIFY(QTest::qWaitFor([&] { return preso.load(); }, 10000));
    QElapsedTimer tempo;
    tempo.start();
    scegli(trova<QComboBox>(&w, QStringLiteral("modo5")), ModoSingolo);
    altro.join();
    QVERIFY2(tempo.elapsed() >= 1000, qPrintable(QString::number(tempo.elapsed())));
    QCOMPARE(u.grezzo(Campo::postoModo(5)).toString(), ModoSingolo);
    QVERIFY(messaggi::registro().isEmpty());
    QVERIFY2(w.testoStato().startsWith(QStringLiteral("Salvato")), qPrintable(w.testoStato()));
}

// The figures of today's journal, exported to the same CSV the archive tool writes.
void TestUfficioFinestra::statisticheEsportate() {
    UfficioProva u;
    FinestraUfficio w(u.archivio());
    QPushButton* calcola = trova<QPushButton>(&w, QStringLiteral("calcola"));
    calcola->click();
    QVERIFY2(w.testoStato().contains(QStringLiteral("non ha ancora il registro")),
             qPrintable(w.testoStato()));
    QVERIFY(messaggi::registro().isEmpty());
    QChart* grafico = trova<QChartView>(&w, QStringLiteral("grafico"))->chart();
    QVERIFY(grafico->series().isEmpty());

    const QDateTime ora(QDate::currentDate(), QTime(10, 0));
    std::vector<registro::Evento> eventi;
    registro::Evento b = registro::evento(registro::Tipo::Biglietto, ora);
    b.sequenza = 1;
    b.numero = 1;
    registro::Evento c = registro::evento(registro::Tipo::Chiamata, ora.addSecs(90));
    c.postazione = 1;
    c.numero = 1;
    eventi = {b, c};
    {
        const auto giornale = registro::deposito(u.archivio());
        giornale->apriScrittura();
        giornale->aggiungi(eventi);
    }
    calcola->click();
    QTableWidget* giorni = trova<QTableWidget>(&w, QStringLiteral("tabellaGiorni"));
    QCOMPARE(giorni->rowCount(), 1);
    QCOMPARE(giorni->item(0, 1)->text(), QStringLiteral("1")); // tickets
    QCOMPARE(giorni->item(0, 5)->text(), QStringLiteral("1:30"));
    // The chart: tickets and calls per hour, both in the 10 o'clock bar.
    QCOMPARE(grafico->series().size(), 1);
    const auto* barre = qobject_cast<QBarSeries*>(grafico->series().first());
    QVERIFY(barre);
    QCOMPARE(barre->count(), 2);
    for (const QBarSet* insieme : barre->barSets()) {
        QCOMPARE(insieme->count(), 24);
        QCOMPARE(insieme->sum(), 1.0);
        QCOMPARE(insieme->at(10), 1.0);
    }
    QCOMPARE(barre->barSets().at(0)->label(), QStringLiteral("Biglietti"));

    QTemporaryDir cartella;
    const QString file = cartella.filePath(QStringLiteral("oggi.csv"));
    const auto primaScelta = FinestraUfficio::sceltaFile;
    FinestraUfficio::sceltaFile = [&](QWidget*, const QString&, const QString&, const QString&) {
        return file;
    };
    trova<QPushButton>(&w, QStringLiteral("esportaCsv"))->click();
    FinestraUfficio::sceltaFile = primaScelta;
    const auto giornale = registro::deposito(u.archivio());
    const QByteArray atteso = statistiche::csv(
        statistiche::calcola(*giornale, QDate::currentDate(), QDate::currentDate()));
    QCOMPARE(test::contenuto(file), atteso);
    QVERIFY(messaggi::registro().isEmpty());
}

QTEST_MAIN(TestUfficioFinestra)
#include "test_ufficio_finestra.moc"
