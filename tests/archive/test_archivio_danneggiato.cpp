// Damaged archives, as the operator meets them: each recipe of tests/dati/archivi damages a
// sound archive and names the error number the client must show, and where it must show it
// (the launcher's load, the console's load, a press of the call button, a tick of the kiosk
// timer, a click of the kiosk box). Every step before that one works; at that step the
// operator gets the number and its description and the program ends; the databases keep what
// they held and stay sound.
//
// Recipe: "<what>.<number>.sql", lines of SQL under "-- database: FILE", and directives
//   -- fase: apertura | avvio | chiamata | chiosco | casella_totem
//   -- modo: SG            numbering mode of station 3 (ST otherwise)
//   -- totem: si           kiosk in use
//   -- danno: dopo_avvio   the damage happens while the console is already running
//   -- contenuto: FILE     FILE is replaced by the lines that follow (none: zero bytes)
//   -- bloccato: FILE      another writer holds FILE in a write transaction

#include "app/gestione.h"
#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "console_comune.h"
#include "launcher/apertura.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <optional>

using namespace qvr;
using namespace qvr::test;

namespace {

const QStringList Fasi = {QStringLiteral("apertura"), QStringLiteral("avvio"),
                          QStringLiteral("chiamata"), QStringLiteral("chiosco"),
                          QStringLiteral("casella_totem")};
const QStringList Database = {QStringLiteral("QVR.mdb"), QStringLiteral("QVRA.mdb"),
                              QStringLiteral("QVRB.mdb"), QStringLiteral("Totem.mdb")};

struct Ricetta {
    QString nome;
    int numero = 0;
    QString fase;
    bool singola = false;
    bool totem = false;
    bool dopoAvvio = false;
    QList<std::pair<QString, QString>> sql;          // database, statements
    QList<std::pair<QString, QByteArray>> contenuti; // file, bytes
    QString bloccato;
};

Ricetta leggiRicetta(const QString& percorso) {
    Ricetta r;
    r.nome = QFileInfo(percorso).fileName();
    const QStringList parti = r.nome.split(QLatin1Char('.'));
    if (parti.size() != 3)
        throw std::runtime_error("nome di ricetta non valido");
    bool ok = false;
    r.numero = parti.at(1).toInt(&ok);
    if (!ok)
        throw std::runtime_error("numero di errore mancante nel nome");
    QFile f(percorso);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("ricetta illeggibile");
    enum { Niente, Sql, Contenuto } modo = Niente;
    const QList<QByteArray> righe = f.readAll().split('\n');
    for (qsizetype i = 0; i < righe.size(); ++i) {
        const QByteArray& riga = righe.at(i);
        if (i == righe.size() - 1 && riga.isEmpty())
            break; // what follows the last newline
        const QString testo = QString::fromUtf8(riga).trimmed();
        const qsizetype dueP = testo.indexOf(QLatin1Char(':'));
        if (testo.startsWith(QStringLiteral("-- ")) && dueP > 3) {
            const QString chiave = testo.mid(3, dueP - 3).trimmed();
            const QString valore = testo.mid(dueP + 1).trimmed();
            if (chiave == QStringLiteral("fase"))
                r.fase = valore;
            else if (chiave == QStringLiteral("modo"))
                r.singola = valore == QStringLiteral("SG");
            else if (chiave == QStringLiteral("totem"))
                r.totem = valore == QStringLiteral("si");
            else if (chiave == QStringLiteral("danno"))
                r.dopoAvvio = valore == QStringLiteral("dopo_avvio");
            else if (chiave == QStringLiteral("bloccato"))
                r.bloccato = valore;
            else if (chiave == QStringLiteral("database")) {
                r.sql.append({valore, {}});
                modo = Sql;
            } else if (chiave == QStringLiteral("contenuto")) {
                r.contenuti.append({valore, {}});
                modo = Contenuto;
            }
            continue;
        }
        if (modo == Sql)
            r.sql.last().second += testo + QLatin1Char('\n');
        else if (modo == Contenuto)
            r.contenuti.last().second += riga + '\n';
    }
    if (!Fasi.contains(r.fase))
        throw std::runtime_error("fase mancante o sconosciuta");
    return r;
}

// Another program holding a database in a write transaction.
class AltroScrittore {
public:
    explicit AltroScrittore(const QString& file) : m_nome(QStringLiteral("altro-scrittore")) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_nome);
        db.setDatabaseName(file);
        if (!db.open())
            throw std::runtime_error("database non aperto");
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            throw std::runtime_error(q.lastError().text().toStdString());
    }
    ~AltroScrittore() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_nome, false);
            QSqlQuery q(db);
            q.exec(QStringLiteral("ROLLBACK"));
            q.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase(m_nome);
    }

private:
    QString m_nome;
};

QByteArray impronta(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<assente>");
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// Applies the damage of a recipe to the archive folder.
void danneggia(const Ricetta& r, const AmbienteProva& amb) {
    for (const auto& [file, istruzioni] : r.sql)
        for (const QString& istruzione : istruzioni.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (!istruzione.trimmed().isEmpty())
                esegui(amb.file(file), istruzione);
    for (const auto& [file, dati] : r.contenuti) {
        QFile f(amb.file(file));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw std::runtime_error("file non riscritto");
        f.write(dati);
    }
}

QString ultimoMessaggio() {
    return messaggi::registro().isEmpty() ? QStringLiteral("<nessun messaggio>")
                                          : messaggi::registro().last().testo;
}

} // namespace

class TestArchivioDanneggiato : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A row held by another writer is given up after a short wait in these tests.
        Cursore::impostaTimeoutOccupato(150);
        contatore::impostaLimiteAttesa(300);
    }
    void cleanupTestCase() { Cursore::impostaTimeoutOccupato(5000); }

    void ricette_data() {
        QTest::addColumn<QString>("percorso");
        const QDir corpus(QStringLiteral(QVR_TEST_DATA_DIR "/archivi"));
        const QStringList nomi = corpus.entryList({QStringLiteral("*.sql")}, QDir::Files);
        QVERIFY2(nomi.size() >= 20, "corpus degli archivi danneggiati mancante");
        for (const QString& nome : nomi)
            QTest::newRow(qPrintable(nome)) << corpus.filePath(nome);
    }

    void ricette() {
        QFETCH(QString, percorso);
        const Ricetta r = leggiRicetta(percorso);
        QVERIFY2(!descrizioneErrore(r.numero).isEmpty(), "numero di errore sconosciuto");

        OpzioniArchivio opzioni;
        opzioni.modi[2] = r.singola ? QStringLiteral("SG") : QStringLiteral("ST");
        opzioni.totem = r.totem;
        ConsoleProva c(3, opzioni, false);
        // People wait at the kiosk, so a press in single numbering goes as far as the draw.
        esegui(c.file("Totem.mdb"), "update Numerazione set P3=20, P11=20, P11Q=20");
        c.scriviContatore("5\r\n");

        std::optional<AltroScrittore> altro;
        auto applicaDanno = [&] {
            danneggia(r, c.ambiente);
            if (!r.bloccato.isEmpty())
                altro.emplace(c.file(r.bloccato));
        };
        if (!r.dopoAvvio)
            applicaDanno();

        // What the databases hold before the failing step, to compare afterwards.
        QMap<QString, QByteArray> prima;
        auto fotografa = [&] {
            for (const QString& db : Database)
                prima[db] = impronta(c.file(db));
        };
        fotografa();

        bool riuscito = true;
        if (r.fase == QStringLiteral("apertura") || r.fase == QStringLiteral("casella_totem")) {
            Apertura a;
            riuscito = eseguiGestito([&] { a.Carica(); });
            if (r.fase == QStringLiteral("casella_totem")) {
                QVERIFY2(riuscito, qPrintable(ultimoMessaggio()));
                QCOMPARE(c.uscita.volte(), 0);
                a.show();
                a.CB3()->click(); // the click is handled (and fails) through eseguiGestito
                riuscito = c.uscita.volte() == 0;
            }
        } else {
            riuscito = c.carica();
            if (r.fase != QStringLiteral("avvio")) {
                QVERIFY2(riuscito, qPrintable(ultimoMessaggio()));
                QCOMPARE(c.uscita.volte(), 0);
                QVERIFY2(messaggi::registro().isEmpty(), qPrintable(ultimoMessaggio()));
                if (r.dopoAvvio) {
                    applicaDanno();
                    fotografa();
                }
                if (r.fase == QStringLiteral("chiamata"))
                    c.form->Command1(0)->click();
                else
                    QMetaObject::invokeMethod(c.form->Timer1(), "timeout", Qt::DirectConnection);
                riuscito = c.uscita.volte() == 0;
            }
        }
        altro.reset();

        // The operator saw the number and its description, once, and the program ended; a
        // failing kiosk refresh is reported while the console goes on.
        if (r.fase == QStringLiteral("chiosco")) {
            QVERIFY2(riuscito, "il guasto del monitor ha chiuso il programma");
        } else {
            QVERIFY2(!riuscito, "il guasto non è stato riportato");
            QCOMPARE(c.uscita.volte(), 1);
            QCOMPARE(c.uscita.ultimoCodice(), 1);
        }
        QCOMPARE(messaggi::registro().size(), 1);
        const auto& m = messaggi::registro().first();
        QCOMPARE(m.icona, messaggi::Icona::Critica);
        const QString atteso =
            QStringLiteral("Errore n. %1\n%2").arg(r.numero).arg(descrizioneErrore(r.numero));
        QVERIFY2(m.testo.startsWith(atteso), qPrintable(m.testo));

        // Nothing was written to the databases by the failing step, and the sound ones stay
        // sound; the counter file still reads as a number.
        for (const QString& db : Database) {
            QVERIFY2(impronta(c.file(db)) == prima.value(db), qPrintable(db));
            const bool sostituito =
                std::any_of(r.contenuti.cbegin(), r.contenuti.cend(),
                            [&](const auto& coppia) { return coppia.first == db; });
            if (!sostituito)
                QCOMPARE(interroga(c.file(db), "pragma integrity_check").toString(),
                         QStringLiteral("ok"));
            QVERIFY2(!QFile::exists(c.file(db) + "-journal"), qPrintable(db));
        }
        QVERIFY(contatore::leggiLong(c.file("Nr4All.txt")) >= 5);
        // The history got no line for a call that failed.
        QVERIFY(!c.cronologia(3).contains('"'));
    }

    void ritentativoDopoIlBlocco() {
        // Once the other writer lets go, the console started again calls: the failed press left
        // no lock and no half-written row.
        ConsoleProva c(3, {}, false);
        QVERIFY(c.carica());
        {
            AltroScrittore altro(c.file("QVRB.mdb"));
            // Answered by the automatic answer; the ending is caught.
            c.form->Command1(0)->click();
        }
        QCOMPARE(c.uscita.volte(), 1);
        QVERIFY(ultimoMessaggio().startsWith(QStringLiteral("Errore n. 3260")));
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), 0);
        c.form = std::make_unique<Form1>();
        QVERIFY(c.carica());
        c.form->Command1(0)->click();
        QCOMPARE(c.uscita.volte(), 1);
        QCOMPARE(c.sql("QVRB.mdb", "select NumeroA1 from NumeriCode3").toInt(), 1);
        QCOMPARE(c.form->Label1(1)->text(), QStringLiteral("1"));
    }

    void ricettaSenzaDannoFunziona() {
        // The recipes' reference: an undamaged archive goes through every step with no message.
        for (const bool singola : {false, true}) {
            OpzioniArchivio opzioni;
            opzioni.modi[2] = singola ? QStringLiteral("SG") : QStringLiteral("ST");
            opzioni.totem = true;
            ConsoleProva c(3, opzioni, false);
            esegui(c.file("Totem.mdb"), "update Numerazione set P3=20, P11=20, P11Q=20");
            c.scriviContatore("5\r\n");
            {
                Apertura a;
                QVERIFY(eseguiGestito([&] { a.Carica(); }));
                a.show();
                a.CB3()->click();
                a.CB3()->click();
            }
            QVERIFY(c.carica());
            c.form->Command1(0)->click();
            QMetaObject::invokeMethod(c.form->Timer1(), "timeout", Qt::DirectConnection);
            QCOMPARE(c.uscita.volte(), 0);
            QVERIFY2(messaggi::registro().isEmpty(), qPrintable(ultimoMessaggio()));
            QCOMPARE(c.form->Label1(1)->text(),
                     singola ? QStringLiteral("6") : QStringLiteral("1"));
        }
    }

    void contatoreDanneggiatoNellaConsole_data() {
        QTest::addColumn<QString>("nome");
        const QDir corpus(QStringLiteral(QVR_TEST_DATA_DIR "/contatore"));
        for (const QString& nome : corpus.entryList({QStringLiteral("*.txt")}, QDir::Files))
            QTest::newRow(qPrintable(nome)) << nome;
    }
    void contatoreDanneggiatoNellaConsole() {
        // Each damaged counter file of the corpus, met by a console in single numbering at a
        // press: the console's own message with the number; it goes on, and nothing changes.
        QFETCH(QString, nome);
        const int numero = nome.section(QLatin1Char('.'), 1, 1).toInt();
        QFile sorgente(QStringLiteral(QVR_TEST_DATA_DIR "/contatore/") + nome);
        QVERIFY(sorgente.open(QIODevice::ReadOnly));
        const QByteArray dati = sorgente.readAll();

        OpzioniArchivio opzioni;
        opzioni.modi[2] = QStringLiteral("SG");
        ConsoleProva c(3, opzioni);
        QVERIFY(c.caricato);
        c.scriviContatore(dati);
        const QVariant numeroPrima = c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle3");
        c.form->Command1(0)->click();
        QCOMPARE(c.uscita.volte(), 0);
        QCOMPARE(messaggi::registro().size(), 1);
        QVERIFY2(messaggi::registro().first().testo.startsWith(
                     QStringLiteral("Errore n. %1\n%2").arg(numero).arg(descrizioneErrore(numero))),
                 qPrintable(ultimoMessaggio()));
        QCOMPARE(c.contatore(), dati);
        QCOMPARE(c.sql("QVRA.mdb", "select NUMERO from NumerazioneSingle3"), numeroPrima);
        QVERIFY(!c.cronologia(3).contains('"'));
    }
};

QTEST_MAIN(TestArchivioDanneggiato)
#include "test_archivio_danneggiato.moc"
