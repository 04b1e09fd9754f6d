// The record cursor against archives made by raw SQL (odd column types, extra columns and rows)
// and by the archive creator; every error number for its condition.

#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "supporto.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>
#include <atomic>
#include <thread>

#include <functional>

#include <unistd.h>

using namespace qvr;
using qvr::test::esegui;
using qvr::test::interroga;
using qvr::test::numeroErrore;

namespace {

QStringList elenco(const QString& cartella) {
    return QDir(cartella).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                    QDir::Name);
}

// A raw connection held open on a database (for another writer in the same process).
class Connessione {
public:
    explicit Connessione(const QString& file) : m_nome(QUuid::createUuid().toString()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_nome);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        if (!db.open())
            qFatal("apertura non riuscita");
    }
    ~Connessione() {
        QSqlDatabase::database(m_nome, false).close();
        QSqlDatabase::removeDatabase(m_nome);
    }
    bool esegui(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(m_nome, false));
        const bool ok = q.exec(sql);
        q.finish();
        return ok;
    }

private:
    QString m_nome;
};

} // namespace

class TestArchivio : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString db(const QString& nome = QStringLiteral("QVRB.mdb")) const {
        return m_dir.path() + QLatin1Char('/') + nome;
    }
    // The archive-path text of a database of the temporary folder, as the client writes it.
    QString testo(const QString& nome = QStringLiteral("QVRB.mdb")) const {
        return m_dir.path() + QLatin1Char('\\') + nome;
    }

    // A display table with the given type for NumeroA1, an extra column and three rows.
    void creaDisplay(const QString& file, const QString& tipo) {
        QFile::remove(file);
        esegui(file, QStringLiteral("CREATE TABLE NumeriCode3 (Extra TEXT, NumeroA1 %1, "
                                    "StatoN1 SMALLINT, F1 VARCHAR(1), Note BLOB)")
                         .arg(tipo));
        esegui(file, "INSERT INTO NumeriCode3 VALUES ('primo', '7', 3, 'T', x'00ff')");
        esegui(file, "INSERT INTO NumeriCode3 VALUES ('secondo', 8, 2, 'F', NULL)");
        esegui(file, "INSERT INTO NumeriCode3 VALUES ('terzo', 9, 1, NULL, NULL)");
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        Cursore::impostaTimeoutOccupato(30000);
    }

    // Any declared type for NumeroA1: a whole double reads back without decimals, only the
    // first row changes, extra columns keep their values.
    void tipiDiColonna_data() {
        QTest::addColumn<QString>("tipo");
        QTest::newRow("INTEGER") << "INTEGER";
        QTest::newRow("REAL") << "REAL";
        QTest::newRow("NUMERIC") << "NUMERIC";
        QTest::newRow("nessun tipo") << "";
        QTest::newRow("TEXT") << "TEXT";
    }
    void tipiDiColonna() {
        QFETCH(QString, tipo);
        const QString file = db(QStringLiteral("tipi.mdb"));
        creaDisplay(file, tipo);

        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("tipi.mdb")));
        c.impostaOrigine(nomi::querySelezionaTutto(QStringLiteral("NumeriCode3")));
        c.aggiorna();
        QVERIFY(c.haRighe());
        QCOMPARE(c.contaRighe(), 1);
        QCOMPARE(c.campoLong("NumeroA1"), 7);
        QCOMPARE(c.campoTesto("NumeroA1"), QStringLiteral("7"));
        QCOMPARE(c.campoTesto("Extra"), QStringLiteral("primo"));
        QCOMPARE(c.campoTesto("F1"), QStringLiteral("T"));

        c.modifica();
        c.assegna("NumeroA1", 25.0);
        c.assegna("StatoN1", QVariant::fromValue<qint16>(1));
        c.assegna("F1", QStringLiteral("F"));
        c.salva();
        c.chiudi();

        c.aggiorna();
        if (tipo == "TEXT") {
            // A text column keeps what it was given as text; the number still reads as a Long.
            QCOMPARE(c.campoLong("NumeroA1"), 25);
        } else {
            QCOMPARE(c.campoTesto("NumeroA1"), QStringLiteral("25"));
        }
        QCOMPARE(c.campoLong("StatoN1"), 1);
        QCOMPARE(c.campoTesto("F1"), QStringLiteral("F"));
        c.chiudi();

        QCOMPARE(interroga(file, "SELECT Extra FROM NumeriCode3 WHERE rowid=1").toString(),
                 QStringLiteral("primo"));
        QCOMPARE(interroga(file, "SELECT hex(Note) FROM NumeriCode3 WHERE rowid=1").toString(),
                 QStringLiteral("00FF"));
        QCOMPARE(interroga(file,
                           "SELECT CAST(NumeroA1 AS INTEGER) || '/' || StatoN1 || '/' || F1 FROM "
                           "NumeriCode3 WHERE rowid=2")
                     .toString(),
                 QStringLiteral("8/2/F"));
        QVERIFY(interroga(file, "SELECT F1 FROM NumeriCode3 WHERE rowid=3").isNull());
        QCOMPARE(interroga(file, "SELECT count(*) FROM NumeriCode3").toInt(), 3);
    }

    // The three forms of record source, brackets and any case included; the hidden rowid
    // column is not a field.
    void originiAccettate() {
        const QString file = db(QStringLiteral("QVR.mdb"));
        QFile::remove(file);
        esegui(file, "CREATE TABLE Utenti (id INTEGER, Nominativo TEXT, UtilizzaNelClient BIT)");
        esegui(file, "INSERT INTO Utenti VALUES (2, 'Rossi', -1)");
        esegui(file, "INSERT INTO Utenti VALUES (4, 'Bianchi', 0)");
        esegui(file, "INSERT INTO Utenti VALUES (4, 'Doppione', NULL)");
        esegui(file, "CREATE TABLE [Tabella Con Spazi] (Valore INTEGER)");
        esegui(file, "INSERT INTO [Tabella Con Spazi] VALUES (11)");

        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("QVR.mdb")));
        c.impostaOrigine(nomi::queryUtente(4));
        c.aggiorna();
        QCOMPARE(c.campoTesto("Nominativo"), QStringLiteral("Bianchi"));
        QVERIFY(c.haCampo("id"));
        QVERIFY(!c.haCampo("rowid"));
        QVERIFY(!c.haCampo("__qvr_rowid__"));
        QCOMPARE(numeroErrore([&] { c.campo("__qvr_rowid__"); }), Err::CampoNonTrovato);

        c.impostaOrigine(QStringLiteral("SELECT * FROM utenti WHERE [id]=7"));
        c.aggiorna();
        QVERIFY(!c.haRighe());
        QCOMPARE(c.contaRighe(), 0);
        QCOMPARE(numeroErrore([&] { c.campo("Nominativo"); }), Err::NessunRecordCorrente);
        QCOMPARE(numeroErrore([&] { c.modifica(); }), Err::NessunRecordCorrente);

        c.impostaOrigine(QStringLiteral("Utenti"));
        c.aggiorna();
        QCOMPARE(c.campoLong("id"), 2);
        QVERIFY(c.campoSiNo("UtilizzaNelClient"));

        c.impostaOrigine(QStringLiteral("Select * from [Tabella Con Spazi]"));
        c.aggiorna(true);
        c.modifica();
        c.assegna("Valore", 12);
        c.salva();
        c.chiudi();
        QCOMPARE(interroga(file, "SELECT Valore FROM [Tabella Con Spazi]").toInt(), 12);

        // Editing the second user rewrites only that row.
        c.impostaOrigine(nomi::queryUtente(4));
        c.aggiorna();
        c.modifica();
        c.assegna("Nominativo", QStringLiteral("Verdi"));
        c.assegna("UtilizzaNelClient", true);
        c.salva();
        c.chiudi();
        QCOMPARE(interroga(file, "SELECT group_concat(Nominativo || ':' || "
                                 "ifnull(UtilizzaNelClient, 'N'), ',') FROM Utenti")
                     .toString(),
                 QStringLiteral("Rossi:-1,Verdi:-1,Doppione:N"));

        // Any other source is read as it stands but never edited.
        c.impostaOrigine(QStringLiteral("SELECT Nominativo FROM Utenti ORDER BY id DESC"));
        c.aggiorna();
        QCOMPARE(c.campoTesto("Nominativo"), QStringLiteral("Verdi"));
        QCOMPARE(numeroErrore([&] { c.modifica(); }), Err::ErroreArchivio);
        QCOMPARE(numeroErrore([&] { c.aggiorna(true); }), Err::ErroreArchivio);
        QVERIFY(!c.aperto());
    }

    // Yes/No values as -1/0/NULL, Null texts.
    void valoriSiNoENull() {
        const QString file = db(QStringLiteral("sino.mdb"));
        QFile::remove(file);
        esegui(file, "CREATE TABLE Configurazione (A BOOLEAN, B BIT, C INTEGER, T TEXT)");
        esegui(file, "INSERT INTO Configurazione VALUES (-1, 0, NULL, NULL)");
        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("sino.mdb")));
        c.impostaOrigine(QStringLiteral("Configurazione"));
        c.aggiorna();
        QVERIFY(c.campoSiNo("A"));
        QVERIFY(!c.campoSiNo("B"));
        QVERIFY(!c.campoSiNo("C"));
        QVERIFY(c.campo("T").isNull());
        QCOMPARE(numeroErrore([&] { c.campoTesto("T"); }), Err::UsoNonValidoNull);
        QCOMPARE(numeroErrore([&] { c.campoLong("C"); }), Err::UsoNonValidoNull);
        c.modifica();
        c.assegna("A", false);
        c.assegna("B", true);
        c.assegna("T", QVariant()); // Null stays Null
        c.salva();
        c.chiudi();
        QCOMPARE(interroga(file, "SELECT A || ',' || B FROM Configurazione").toString(),
                 QStringLiteral("0,-1"));
    }

    void conversioni() {
        using namespace valori;
        QCOMPARE(comeTesto(QVariant(25.0)), QStringLiteral("25"));
        QCOMPARE(comeTesto(QVariant(-3.0)), QStringLiteral("-3"));
        QCOMPARE(comeTesto(QVariant(2.5)), QStringLiteral("2.5"));
        QCOMPARE(comeTesto(QVariant(qint64(1234567890123))), QStringLiteral("1234567890123"));
        QCOMPARE(comeTesto(QVariant(QStringLiteral(" a "))), QStringLiteral(" a "));

        // Half to even, like the classic conversion.
        QCOMPARE(comeLong(QVariant(2.5)), 2);
        QCOMPARE(comeLong(QVariant(3.5)), 4);
        QCOMPARE(comeLong(QVariant(-2.5)), -2);
        QCOMPARE(comeLong(QVariant(2.6)), 3);
        QCOMPARE(comeLong(QVariant(2147483647.4)), 2147483647);
        QCOMPARE(comeLong(QVariant(QStringLiteral("  -42 "))), -42);
        QCOMPARE(comeLong(QVariant(QStringLiteral("+7"))), 7);
        QCOMPARE(comeLong(QVariant(QStringLiteral("25.0"))), 25);
        QCOMPARE(comeLong(QVariant(qint64(-2147483648LL))), std::numeric_limits<qint32>::min());

        QCOMPARE(numeroErrore([] { comeLong(QVariant(2147483647.5)); }), Err::Overflow);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(qint64(2147483648LL))); }), Err::Overflow);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(QStringLiteral("99999999999"))); }),
                 Err::Overflow);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(QStringLiteral("99999999999999999999"))); }),
                 Err::Overflow);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(qQNaN())); }), Err::Overflow);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(QStringLiteral("abc"))); }),
                 Err::TipoNonCorrispondente);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(QStringLiteral("12abc"))); }),
                 Err::TipoNonCorrispondente);
        QCOMPARE(numeroErrore([] { comeLong(QVariant(QString())); }), Err::TipoNonCorrispondente);
        QCOMPARE(numeroErrore([] { comeLong(QVariant()); }), Err::UsoNonValidoNull);
        QCOMPARE(numeroErrore([] { comeTesto(QVariant()); }), Err::UsoNonValidoNull);

        QVERIFY(!comeSiNo(QVariant()));
        QVERIFY(!comeSiNo(QVariant(0)));
        QVERIFY(!comeSiNo(QVariant(QStringLiteral("0"))));
        QVERIFY(!comeSiNo(QVariant(QStringLiteral(""))));
        QVERIFY(comeSiNo(QVariant(-1)));
        QVERIFY(comeSiNo(QVariant(qint64(1))));
        QVERIFY(comeSiNo(QVariant(0.5)));
        QVERIFY(comeSiNo(QVariant(QStringLiteral("True"))));
        QVERIFY(comeSiNo(QVariant(QStringLiteral("Vero"))));
        QVERIFY(comeSiNo(QVariant(QStringLiteral("-1"))));
        QCOMPARE(numeroErrore([] { comeSiNo(QVariant(QStringLiteral("forse"))); }),
                 Err::TipoNonCorrispondente);
    }

    // Missing file, missing folder, not a database: the right number, and nothing created.
    void fileMancantiENonValidi() {
        QTemporaryDir cartella;
        const QString base = cartella.path();
        const QStringList prima = elenco(base);
        Cursore c;
        c.impostaOrigine(QStringLiteral("Configurazione"));

        c.impostaDatabase(base + QStringLiteral("\\QVR.mdb"));
        QCOMPARE(numeroErrore([&] { c.aggiorna(); }), Err::DatabaseNonTrovato);
        c.impostaDatabase(base + QStringLiteral("\\manca\\QVR.mdb"));
        QCOMPARE(numeroErrore([&] { c.aggiorna(true); }), Err::PercorsoNonValido);
        QCOMPARE(elenco(base), prima);

        // An empty file is not an empty archive.
        QFile vuoto(base + QStringLiteral("/QVR.mdb"));
        QVERIFY(vuoto.open(QIODevice::WriteOnly));
        vuoto.close();
        c.impostaDatabase(base + QStringLiteral("\\QVR.mdb"));
        QCOMPARE(numeroErrore([&] { c.aggiorna(); }), Err::FormatoNonRiconosciuto);
        QCOMPARE(QFileInfo(vuoto.fileName()).size(), 0);

        // A text file named QVR.mdb.
        QVERIFY(vuoto.open(QIODevice::WriteOnly));
        vuoto.write(QByteArray("questo non e' un archivio\r\n").repeated(100));
        vuoto.close();
        try {
            c.aggiorna();
            QFAIL("un file di testo aperto come archivio");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::FormatoNonRiconosciuto);
            QVERIFY2(e.dettaglio().contains(QStringLiteral("QVR.mdb")), qPrintable(e.dettaglio()));
        }
        QVERIFY(!c.aperto());
        QCOMPARE(elenco(base), QStringList{QStringLiteral("QVR.mdb")});
    }

    // Folder names that need escaping in the engine's file name.
    void cartelleConCaratteriSpeciali_data() {
        QTest::addColumn<QString>("sottocartella");
        QTest::newRow("spazio") << "con spazio";
        QTest::newRow("cancelletto") << "a#b";
        QTest::newRow("punto interrogativo") << "a?mode=ro";
        QTest::newRow("percento") << "100%25";
        QTest::newRow("accenti") << "perché";
    }
    void cartelleConCaratteriSpeciali() {
        QFETCH(QString, sottocartella);
        const QString cartella = m_dir.path() + QLatin1Char('/') + sottocartella;
        QVERIFY(QDir().mkpath(cartella));
        const QString file = cartella + QStringLiteral("/QVRB.mdb");
        creaDisplay(file, QStringLiteral("INTEGER"));
        Cursore c;
        c.impostaDatabase(cartella + QStringLiteral("\\QVRB.mdb"));
        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        c.aggiorna(true);
        c.modifica();
        c.assegna("NumeroA1", 31);
        c.salva();
        c.chiudi();
        QCOMPARE(interroga(file, "SELECT NumeroA1 FROM NumeriCode3 LIMIT 1").toInt(), 31);
        QCOMPARE(elenco(cartella), QStringList{QStringLiteral("QVRB.mdb")});
        // A missing file in that folder is still 3024, not a new database.
        c.impostaDatabase(cartella + QStringLiteral("\\QVRA.mdb"));
        QCOMPARE(numeroErrore([&] { c.aggiorna(); }), Err::DatabaseNonTrovato);
        QCOMPARE(elenco(cartella), QStringList{QStringLiteral("QVRB.mdb")});
    }

    void tabellaECampiMancanti() {
        const QString file = db(QStringLiteral("mancanti.mdb"));
        creaDisplay(file, QStringLiteral("INTEGER"));
        esegui(file, "CREATE TABLE Vuota (NumeroA1 INTEGER)");
        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("mancanti.mdb")));

        c.impostaOrigine(nomi::querySelezionaTutto(QStringLiteral("NumeriCode4")));
        try {
            c.aggiorna();
            QFAIL("tabella mancante accettata");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::TabellaNonTrovata);
            QVERIFY2(e.dettaglio().contains(QStringLiteral("NumeriCode4")),
                     qPrintable(e.dettaglio()));
        }
        c.impostaOrigine(QStringLiteral("NumeriCode4"));
        QCOMPARE(numeroErrore([&] { c.aggiorna(true); }), Err::TabellaNonTrovata);
        c.impostaOrigine(QStringLiteral("select * from NumeriCode3 where [Manca]=4"));
        QCOMPARE(numeroErrore([&] { c.aggiorna(); }), Err::CampoNonTrovato);

        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        c.aggiorna();
        QCOMPARE(numeroErrore([&] { c.campo("Manca"); }), Err::CampoNonTrovato);
        QCOMPARE(numeroErrore([&] { c.campoTesto("Extra"); }), 0);
        c.modifica();
        QCOMPARE(numeroErrore([&] { c.assegna("Manca", 1); }), Err::CampoNonTrovato);
        QCOMPARE(numeroErrore([&] { c.assegna("F1", QVariant(QDate(2024, 1, 1))); }),
                 Err::TipoNonCorrispondente);
        c.chiudi();

        c.impostaOrigine(QStringLiteral("Vuota"));
        c.aggiorna();
        QVERIFY(!c.haRighe());
        QVERIFY(c.haCampo("NumeroA1"));
        QCOMPARE(numeroErrore([&] { c.campoLong("NumeroA1"); }), Err::NessunRecordCorrente);
        QCOMPARE(numeroErrore([&] { c.modifica(); }), Err::NessunRecordCorrente);
        c.chiudi();
        QCOMPARE(interroga(file, "SELECT count(*) FROM Vuota").toInt(), 0);
    }

    // A row held by another writer past the busy timeout is 3260, and the cursor leaves no lock.
    void rigaBloccata() {
        const QString file = db(QStringLiteral("bloccato.mdb"));
        creaDisplay(file, QStringLiteral("INTEGER"));
        Cursore::impostaTimeoutOccupato(200);
        {
            Connessione altro(file);
            QVERIFY(altro.esegui("BEGIN IMMEDIATE"));
            QVERIFY(altro.esegui("UPDATE NumeriCode3 SET NumeroA1=50 WHERE rowid=1"));
            Cursore c;
            c.impostaDatabase(testo(QStringLiteral("bloccato.mdb")));
            c.impostaOrigine(QStringLiteral("Select * from [NumeriCode3]"));
            QElapsedTimer t;
            t.start();
            QCOMPARE(numeroErrore([&] { c.aggiorna(true); }), Err::RecordBloccato);
            QVERIFY2(t.elapsed() >= 150, "il tempo di attesa non è stato rispettato");
            QVERIFY(!c.aperto());
            // Reading is still possible; the edit waits and then fails.
            c.aggiorna();
            QCOMPARE(c.campoLong("NumeroA1"), 7);
            QCOMPARE(numeroErrore([&] { c.modifica(); }), Err::RecordBloccato);
            QVERIFY(!c.aperto());
            QVERIFY(altro.esegui("COMMIT"));
        }
        Cursore::impostaTimeoutOccupato(30000);
        {
            Cursore c;
            c.impostaDatabase(testo(QStringLiteral("bloccato.mdb")));
            c.impostaOrigine(QStringLiteral("NumeriCode3"));
            c.aggiorna(true);
            QCOMPARE(c.campoLong("NumeroA1"), 50);
            c.chiudi();
        }
    }

    // A reader that holds the database for 8 s (a backup, a board) is waited for: the write
    // goes through once it lets go, and the waiting hook hears of the wait while it lasts.
    void letturaLungaAttesa() {
        const QString file = db(QStringLiteral("lettore.mdb"));
        creaDisplay(file, QStringLiteral("INTEGER"));
        std::atomic<bool> pronto{false};
        std::thread lettore([&] {
            {
                QSqlDatabase d =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lettore"));
                d.setDatabaseName(file);
                QVERIFY(d.open());
                QSqlQuery q(d);
                QVERIFY(q.exec(QStringLiteral("BEGIN")));
                QVERIFY(q.exec(QStringLiteral("SELECT * FROM NumeriCode3")) && q.next());
                pronto = true;
                QThread::msleep(8000);
                q.finish();
                QVERIFY(q.exec(QStringLiteral("COMMIT")));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("lettore"));
        });
        while (!pronto)
            QThread::msleep(10);
        QList<Cursore::FaseAttesa> fasi;
        Cursore::impostaAttesa([&](Cursore::FaseAttesa f) { fasi << f; });
        QElapsedTimer t;
        t.start();
        int errore = 0;
        try {
            Cursore c;
            c.impostaDatabase(testo(QStringLiteral("lettore.mdb")));
            c.impostaOrigine(QStringLiteral("NumeriCode3"));
            c.aggiorna(true);
            c.modifica();
            c.assegna(QStringLiteral("NumeroA1"), 8);
            c.salva();
        } catch (const ErroreQvr& e) {
            errore = e.numero();
        }
        const qint64 atteso = t.elapsed();
        Cursore::impostaAttesa({});
        lettore.join();
        QCOMPARE(errore, 0);
        QVERIFY2(atteso >= 7000, qPrintable(QString::number(atteso)));
        QCOMPARE(interroga(file, "SELECT NumeroA1 FROM NumeriCode3").toInt(), 8);
        QVERIFY(fasi.size() > 10); // several times a second
        QCOMPARE(fasi.first(), Cursore::FaseAttesa::Inizio);
        QCOMPARE(fasi.last(), Cursore::FaseAttesa::Fine);
    }

    // An edit that is not saved, or that fails half-way, leaves the row as it was and no lock.
    void modificaAnnullataOFallita() {
        const QString file = db(QStringLiteral("annullata.mdb"));
        QFile::remove(file);
        esegui(file, "CREATE TABLE NumeriCode3 (NumeroA1 INTEGER, StatoN1 INTEGER "
                     "CHECK (StatoN1 BETWEEN 1 AND 3), F1 TEXT)");
        esegui(file, "INSERT INTO NumeriCode3 VALUES (5, 3, 'F')");
        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("annullata.mdb")));
        c.impostaOrigine(QStringLiteral("NumeriCode3"));

        c.aggiorna(true);
        c.modifica();
        c.assegna("NumeroA1", 6);
        QCOMPARE(c.campoLong("NumeroA1"), 6);
        c.chiudi();
        QCOMPARE(interroga(file, "SELECT NumeroA1 FROM NumeriCode3").toInt(), 5);

        // The first assignment succeeds, the update is refused by the table: nothing is written.
        c.aggiorna();
        c.modifica();
        c.assegna("NumeroA1", 99);
        c.assegna("StatoN1", 9);
        c.assegna("F1", QStringLiteral("T"));
        QCOMPARE(numeroErrore([&] { c.salva(); }), Err::ErroreArchivio);
        QVERIFY(!c.aperto());
        QCOMPARE(interroga(file, "SELECT NumeroA1 || StatoN1 || F1 FROM NumeriCode3").toString(),
                 QStringLiteral("53F"));
        Connessione altro(file);
        QVERIFY2(altro.esegui("BEGIN IMMEDIATE"), "il cursore ha lasciato un blocco");
        QVERIFY(altro.esegui("ROLLBACK"));

        // Without an edit there is nothing to assign or save.
        c.aggiorna();
        QCOMPARE(numeroErrore([&] { c.assegna("NumeroA1", 1); }), Err::ErroreArchivio);
        QCOMPARE(numeroErrore([&] { c.salva(); }), Err::ErroreArchivio);
        c.chiudi();
        c.chiudi(); // twice is harmless
    }

    // An edit begun on a cursor read earlier works on the row as it is now.
    void modificaRileggeLaRiga() {
        const QString file = db(QStringLiteral("rilettura.mdb"));
        creaDisplay(file, QStringLiteral("INTEGER"));
        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("rilettura.mdb")));
        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        c.aggiorna();
        esegui(file, "UPDATE NumeriCode3 SET NumeroA1=40 WHERE rowid=1");
        c.modifica();
        QCOMPARE(c.campoLong("NumeroA1"), 40);
        c.assegna("StatoN1", QVariant::fromValue<qint16>(2));
        c.salva();
        QCOMPARE(interroga(file, "SELECT NumeroA1 || '/' || StatoN1 FROM NumeriCode3 "
                                 "WHERE rowid=1")
                     .toString(),
                 QStringLiteral("40/2"));
        // The row read has gone meanwhile: no current row, and no other row is touched.
        esegui(file, "DELETE FROM NumeriCode3 WHERE rowid=1");
        QCOMPARE(numeroErrore([&] { c.modifica(); }), Err::NessunRecordCorrente);
        QVERIFY(!c.aperto());
        QCOMPARE(interroga(file, "SELECT group_concat(NumeroA1) FROM NumeriCode3").toString(),
                 QStringLiteral("8,9"));
    }

    // A database someone switched to WAL is put back in rollback-journal mode.
    void modoWalRiportato() {
        const QString file = db(QStringLiteral("wal.mdb"));
        creaDisplay(file, QStringLiteral("INTEGER"));
        QCOMPARE(interroga(file, "PRAGMA journal_mode=WAL").toString(), QStringLiteral("wal"));
        QCOMPARE(interroga(file, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("wal.mdb")));
        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        c.aggiorna();
        QCOMPARE(c.campoLong("NumeroA1"), 7);
        c.chiudi();
        QCOMPARE(interroga(file, "PRAGMA journal_mode").toString(), QStringLiteral("delete"));
        QVERIFY(!QFile::exists(file + QStringLiteral("-wal")));
    }

    // A database file that cannot be written: 3051, and the row is unchanged.
    void soloLettura() {
        const QString file = db(QStringLiteral("solalettura.mdb"));
        creaDisplay(file, QStringLiteral("INTEGER"));
        const bool radice = geteuid() == 0;
        bool bloccato = false;
        if (radice) {
            bloccato = QProcess::execute(QStringLiteral("chattr"), {"+i", file}) == 0;
            if (!bloccato)
                QSKIP("eseguito come root e chattr +i non disponibile qui: un file di sola "
                      "lettura non si può simulare");
        } else {
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));
        }
        auto ripristina = qScopeGuard([&] {
            if (bloccato)
                QProcess::execute(QStringLiteral("chattr"), {"-i", file});
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        });
        Cursore c;
        c.impostaDatabase(testo(QStringLiteral("solalettura.mdb")));
        c.impostaOrigine(QStringLiteral("NumeriCode3"));
        c.aggiorna();
        QCOMPARE(c.campoLong("NumeroA1"), 7);
        try {
            c.modifica();
            c.assegna("NumeroA1", 8);
            c.salva();
            QFAIL("scrittura riuscita su un file di sola lettura");
        } catch (const ErroreQvr& e) {
            QCOMPARE(e.numero(), Err::SolaLettura);
            QVERIFY2(e.dettaglio().contains(QStringLiteral("solalettura.mdb")),
                     qPrintable(e.dettaglio()));
        }
        QVERIFY(!c.aperto());
        QCOMPARE(interroga(file, "SELECT NumeroA1 FROM NumeriCode3 LIMIT 1").toInt(), 7);
    }

    // An archive made as the other programs of the queue system make it.
    void archivioCompleto() {
        QTemporaryDir cartella;
        OpzioniArchivio opzioni;
        opzioni.modi[2] = QStringLiteral("SG");
        opzioni.dopo99Standard = true;
        opzioni.totem = true;
        creaArchivio(cartella.path(), opzioni);
        const QString t = cartella.path() + QLatin1Char('\\');
        Cursore c;

        c.impostaDatabase(t + nomi::FileQVR);
        c.impostaOrigine(nomi::TabConfigurazione);
        c.aggiorna();
        QVERIFY(!c.campoSiNo(nomi::CampoNovantanoveSingle));
        QVERIFY(c.campoSiNo(nomi::CampoNovantanoveStandard));
        c.impostaOrigine(nomi::TabPostazioneUtente);
        c.aggiorna();
        QCOMPARE(c.campoTesto(nomi::campoPostoSS(3)), QStringLiteral("SG"));
        QCOMPARE(c.campoTesto(nomi::campoPostoSS(10)), QStringLiteral("ST"));
        const qint32 utente = c.campoLong(nomi::campoPostoID(10));
        c.impostaOrigine(nomi::queryUtente(utente));
        c.aggiorna();
        QCOMPARE(c.contaRighe(), 1);
        QCOMPARE(c.campoLong(nomi::CampoId), utente);

        c.impostaDatabase(t + nomi::FileTotem);
        c.impostaOrigine(nomi::querySelezionaTutto(nomi::TabConfigurazione));
        c.aggiorna(true);
        QCOMPARE(c.campoTesto(nomi::CampoRHDSN), QStringLiteral("SI"));
        c.modifica();
        c.assegna(nomi::CampoRHDSN, QStringLiteral("NO"));
        c.salva();
        c.impostaOrigine(nomi::TabNumerazione);
        c.aggiorna();
        QCOMPARE(c.campoLong(nomi::CampoP11), 0);
        c.modifica();
        c.assegna(nomi::CampoP11Q, 3.0);
        c.salva();
        c.chiudi();
        QCOMPARE(interroga(cartella.path() + "/Totem.mdb", "SELECT RHDSN FROM Configurazione")
                     .toString(),
                 QStringLiteral("NO"));
        QCOMPARE(valori::comeTesto(
                     interroga(cartella.path() + "/Totem.mdb", "SELECT P11Q FROM Numerazione")),
                 QStringLiteral("3"));

        c.impostaDatabase(t + nomi::FileQVRA);
        c.impostaOrigine(nomi::tabNumerazioneSingle(10));
        c.aggiorna();
        c.modifica();
        c.assegna(nomi::CampoNUMERO, 12);
        c.assegna(nomi::CampoStato, QVariant::fromValue<qint16>(3));
        c.salva();
        c.chiudi();
        QCOMPARE(interroga(cartella.path() + "/QVRA.mdb", "SELECT NUMERO FROM NumerazioneSingle10")
                     .toInt(),
                 12);
        QCOMPARE(interroga(cartella.path() + "/QVRA.mdb", "SELECT NUMERO FROM NumerazioneSingle1")
                     .toInt(),
                 0);
        QCOMPARE(interroga(cartella.path() + "/QVRA.mdb", "PRAGMA journal_mode").toString(),
                 QStringLiteral("delete"));
    }
};

QTEST_GUILESS_MAIN(TestArchivio)
#include "test_archivio.moc"
