// The journal on both engines (the file Registro.mdb, the schema registro on a server) and the
// observer that turns records into its events.
#include "archive/server.h"
#include "registro/codice_biglietto.h"
#include "registro/deposito.h"
#include "registro/osservatore.h"
#include "registro/registro.h"
#include "registro/registro_server.h"

#include "supporto.h"
#include "supporto_registro.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <sqlite3.h>

using namespace qvr;
using namespace qvr::registro;

namespace {

QVariant sql(const QString& file, const char* query) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_stmt* st = nullptr;
    QVariant v;
    if (sqlite3_prepare_v2(db, query, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        v = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
}

const QDateTime Ora(QDate(2026, 3, 2), QTime(9, 0), QTimeZone(3600));

RecordsDisplay display(std::initializer_list<std::pair<int, RecordDisplay>> r) {
    RecordsDisplay d{};
    for (int i = 0; i < 10; ++i)
        d[i] = {0, 1, QStringLiteral("F"), {}};
    for (const auto& [n, x] : r)
        d[n - 1] = x;
    return d;
}

// The events in short form, the recorder's own included.
QString breve(const std::vector<Evento>& v) {
    return test::breve(v, true);
}

// The journal of an archive on one engine: a folder, or a fresh database on the test server.
struct Motore {
    bool server;
    QTemporaryDir dir;
    std::unique_ptr<test::DatabaseProva> db;
    QString archivio;

    explicit Motore(bool suServer) : server(suServer) {
        if (server) {
            db = std::make_unique<test::DatabaseProva>();
            archivio = db->uri();
        } else {
            archivio = dir.path();
        }
    }
    QString file() const { return QDir(dir.path()).filePath(NomeFile); }
    std::unique_ptr<Deposito> giornale() const { return deposito(archivio); }
    // The first value of a query on the journal (its schema on the server, its file here).
    QVariant valore(const QString& q) const {
        if (!server)
            return sql(file(), q.toUtf8().constData());
        server::Connessione c(archivio);
        QSqlQuery r(c.db());
        if (c.esegui(r, q))
            return QVariant();
        return r.next() ? r.value(0) : QVariant();
    }
    void impostaVersione(int v) const {
        valore(server ? QStringLiteral("UPDATE registro.\"Versione\" SET \"Versione\" = %1").arg(v)
                      : QStringLiteral("PRAGMA user_version=%1").arg(v));
    }
    // Damage: a file that is not a database; a schema that lost a table.
    void guasta() const {
        if (server)
            valore(QStringLiteral("DROP TABLE registro.\"Stato\""));
        else
            test::scriviFile(file(), QByteArray(4096, 'x'));
    }
    // How many events the journal kept aside under `nome` still holds.
    int eventiAccantonati(const QString& nome) const {
        if (!server)
            return sql(nome, "SELECT count(*) FROM Eventi").toInt();
        const QString schema = nome.section(QLatin1Char('\\'), -1);
        return valore(QStringLiteral("SELECT count(*) FROM %1.\"Eventi\"").arg(schema)).toInt();
    }
};

std::vector<Evento> bigliettiDiProva(int n) {
    std::vector<Evento> v;
    for (int i = 1; i <= n; ++i) {
        Evento e = evento(Tipo::Biglietto, Ora.addSecs(i));
        e.sequenza = 1;
        e.numero = i;
        v.push_back(e);
    }
    return v;
}

void motori() {
    QTest::addColumn<bool>("server");
    QTest::newRow("cartella") << false;
    QTest::newRow("server") << true;
}

} // namespace

#define MOTORE(m)                                                                                  \
    QFETCH(bool, server);                                                                          \
    if (server && test::uriServerProva().isEmpty())                                                \
        QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova (scripts/test.sh "      \
              "lo avvia)");                                                                        \
    Motore m(server)

class TestRegistro : public QObject {
    Q_OBJECT
private slots:
    void creaScriveRilegge_data() { motori(); }
    void creaScriveRilegge();
    void migraERifiuta_data() { motori(); }
    void migraERifiuta();
    void danneggiato_data() { motori(); }
    void danneggiato();
    void copia();
    void copiaTraMotori_data();
    void copiaTraMotori();
    void contatori_data();
    void contatori();
    void postazioni();
    void statoSalvato();
    void letturaAFette_data() { motori(); }
    void letturaAFette();
    void codiciDeiBiglietti_data() { motori(); }
    void codiciDeiBiglietti();
};

// A new journal: version 1, events read back as written, sequence numbers growing also when
// the clock goes back, the state written with them, a time range read alone; the file in
// rollback journal mode.
void TestRegistro::creaScriveRilegge() {
    MOTORE(m);
    {
        const auto r = m.giornale();
        r->apriScrittura();
        QCOMPARE(r->versione(), VersioneSchema);
        QVERIFY(!r->ultimo());
        QCOMPARE(r->stato(), QString());
        Evento a = evento(Tipo::Biglietto, Ora);
        a.sequenza = 11;
        a.numero = 42;
        a.registratore = QStringLiteral("pc:1");
        Evento b = evento(Tipo::Chiamata, Ora.addSecs(-3600)); // the clock set back an hour
        b.postazione = 3;
        b.numero = 42;
        b.singola = true;
        b.dettaglio = QStringLiteral("è così; 'quotato'");
        std::vector<Evento> v = {a, b};
        r->aggiungi(v, QStringLiteral("{\"x\":1}"));
        QVERIFY(v[0].seq > 0);
        QVERIFY(v[1].seq > v[0].seq);
        std::vector<Evento> poi = {evento(Tipo::Arresto, Ora.addSecs(60))};
        r->aggiungi(poi);
        QCOMPARE(poi[0].seq, v[1].seq + 1);
        QCOMPARE(r->ultimo()->tipo, Tipo::Arresto);
        QCOMPARE(r->stato(), QStringLiteral("{\"x\":1}")); // kept when none is given
    }
    const auto r = m.giornale();
    r->apriLettura();
    const std::vector<Evento> letti = r->tutti();
    QCOMPARE(letti.size(), size_t(3));
    QCOMPARE(letti[0].tipo, Tipo::Biglietto);
    QCOMPARE(letti[0].numero, 42);
    QCOMPARE(letti[0].sequenza, 11);
    QCOMPARE(letti[0].registratore, QStringLiteral("pc:1"));
    QCOMPARE(letti[0].ora(), Ora);
    QCOMPARE(letti[0].ora().offsetFromUtc(), 3600);
    QCOMPARE(letti[1].dettaglio, QStringLiteral("è così; 'quotato'"));
    QVERIFY(letti[1].singola);
    QCOMPARE(letti[1].postazione, 3);
    QCOMPARE(r->stato(), QStringLiteral("{\"x\":1}"));
    // The range [Ora - 1 h, Ora): the call alone.
    std::vector<Evento> fascia;
    r->leggi(Ora.addSecs(-3600).toMSecsSinceEpoch(), Ora.toMSecsSinceEpoch(),
             [&](const Evento& e) { fascia.push_back(e); });
    QCOMPARE(breve(fascia), QStringLiteral("s3:42"));
    QCOMPARE(m.valore(m.server ? QStringLiteral("SELECT \"Ora\" FROM registro.\"Eventi\" WHERE "
                                                "\"Seq\" = 1")
                               : QStringLiteral("SELECT Ora FROM Eventi WHERE Seq = 1"))
                 .toString(),
             QStringLiteral("2026-03-02T09:00:00.000+01:00"));
    // Reading a missing journal creates nothing.
    Motore vuoto(m.server);
    QCOMPARE(test::numeroErrore([&] { vuoto.giornale()->apriLettura(); }), Err::DatabaseNonTrovato);
    if (m.server) {
        QVERIFY(vuoto
                    .valore(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = "
                                           "'registro'"))
                    .isNull());
        return;
    }
    QVERIFY(!QFile::exists(vuoto.file()));
    const QString file = m.file();
    QCOMPARE(sql(file, "PRAGMA journal_mode").toString(), QStringLiteral("delete"));
    QVERIFY(!QFile::exists(file + QStringLiteral("-wal")));
    // A journal switched to WAL by someone else goes back to the rollback journal.
    sql(file, "PRAGMA journal_mode=WAL");
    QCOMPARE(sql(file, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
    Registro w(file);
    w.apriScrittura();
    w.chiudi();
    QCOMPARE(sql(file, "PRAGMA journal_mode").toString(), QStringLiteral("delete"));
}

// A journal of a later version is refused for writing and reading, and left as it is; an
// empty file (a database of version 0) is migrated.
// A range read over more events than one statement reads: every event of the range once, in
// order, and none outside it, also those written with a clock set back into the range's span.
void TestRegistro::letturaAFette() {
    MOTORE(m);
    constexpr int Quanti = 45007; // more than two of the server's slices
    {
        const auto r = m.giornale();
        r->apriScrittura();
        std::vector<Evento> v;
        for (int i = 0; i < Quanti; ++i) {
            // Every 1000th event with its clock an hour back: outside the range read below.
            Evento e = evento(Tipo::Biglietto, Ora.addSecs(i % 1000 == 999 ? -3600 : i));
            e.sequenza = 1 + i % 10;
            e.numero = i;
            v.push_back(e);
        }
        r->aggiungi(v);
    }
    const auto r = m.giornale();
    r->apriLettura();
    std::vector<int> letti, leggeri;
    const qint64 dal = Ora.addSecs(10).toMSecsSinceEpoch(),
                 al = Ora.addSecs(44000).toMSecsSinceEpoch();
    r->leggi(dal, al, [&](const Evento& e) { letti.push_back(e.numero); });
    r->leggiLeggero(dal, al, [&](const Evento& e) { leggeri.push_back(e.numero); });
    std::vector<int> attesi;
    for (int i = 10; i < 44000; ++i)
        if (i % 1000 != 999)
            attesi.push_back(i);
    QCOMPARE(letti, attesi);
    QCOMPARE(leggeri, attesi);
}

void TestRegistro::migraERifiuta() {
    MOTORE(m);
    m.giornale()->apriScrittura();
    m.impostaVersione(7);
    const auto r = m.giornale();
    QString dettaglio;
    QCOMPARE(test::numeroErrore([&] { r->apriScrittura(); }, &dettaglio),
             Err::FormatoNonRiconosciuto);
    QVERIFY2(dettaglio.contains(QStringLiteral("versione 7")), qPrintable(dettaglio));
    QCOMPARE(test::numeroErrore([&] { r->apriLettura(); }), Err::FormatoNonRiconosciuto);
    QCOMPARE(m.valore(m.server ? QStringLiteral("SELECT \"Versione\" FROM registro.\"Versione\"")
                               : QStringLiteral("PRAGMA user_version"))
                 .toInt(),
             7);
    if (m.server)
        return;
    const QString file = m.file();
    QFile::remove(file);
    sql(file, "CREATE TABLE Altro (x)");
    Registro f(file);
    QCOMPARE(test::numeroErrore([&] { f.apriLettura(); }), Err::TabellaNonTrovata);
    f.apriScrittura();
    QCOMPARE(f.versione(), VersioneSchema);
}

// A damaged journal (a file that is not a database, a schema that lost a table) is reported as
// such, and kept aside under a new name with what it held, never deleted; a new one starts.
void TestRegistro::danneggiato() {
    MOTORE(m);
    std::vector<Evento> v = bigliettiDiProva(3);
    m.giornale()->apriScrittura();
    m.giornale()->aggiungi(v);
    m.guasta();
    const auto r = m.giornale();
    bool visto = false;
    try {
        r->apriScrittura();
    } catch (const ErroreRegistro& e) {
        visto = true;
        QVERIFY2(e.danneggiato(), qPrintable(e.testoCompleto()));
    }
    QVERIFY(visto);
    const QString copia = r->accantona(Ora);
    QVERIFY2(copia.endsWith(m.server ? QStringLiteral("\\registro_danneggiato_20260302_090000")
                                     : QStringLiteral("/Registro-danneggiato-20260302-090000.mdb")),
             qPrintable(copia));
    if (m.server)
        QCOMPARE(m.eventiAccantonati(copia), 3);
    else
        QCOMPARE(test::contenuto(copia), QByteArray(4096, 'x'));
    r->apriScrittura(); // a new one
    QVERIFY(!r->ultimo());
    const QString seconda = r->accantona(Ora);
    QVERIFY2(seconda.endsWith(m.server ? QStringLiteral("_danneggiato_20260302_090000_2")
                                       : QStringLiteral("-danneggiato-20260302-090000-2.mdb")),
             qPrintable(seconda));
    QVERIFY(m.server ? m.eventiAccantonati(copia) == 3
                     : test::contenuto(copia) == QByteArray(4096, 'x'));
}

// A copy holds the same events and state; the source is left as it was.
void TestRegistro::copia() {
    QTemporaryDir dir;
    const QString da = dir.filePath(NomeFile);
    const QString a = dir.filePath(QStringLiteral("copia/") + NomeFile);
    QDir().mkpath(dir.filePath(QStringLiteral("copia")));
    std::vector<Evento> v;
    for (int i = 1; i <= 50; ++i) {
        Evento e = evento(Tipo::Biglietto, Ora.addSecs(i));
        e.sequenza = 1;
        e.numero = i;
        v.push_back(e);
    }
    {
        Registro r(da);
        r.apriScrittura();
        r.aggiungi(v, QStringLiteral("{}"));
    }
    const QByteArray prima = test::contenuto(da);
    QCOMPARE(Registro::copia(da, a), qint64(50));
    QCOMPARE(test::contenuto(da), prima);
    Registro r(a);
    r.apriLettura();
    const std::vector<Evento> letti = r.tutti();
    QCOMPARE(letti.size(), v.size());
    for (size_t i = 0; i < v.size(); ++i)
        QCOMPARE(letti[i], v[i]);
    QCOMPARE(r.stato(), QStringLiteral("{}"));
    QCOMPARE(
        test::numeroErrore([&] { Registro::copia(dir.filePath(QStringLiteral("no.mdb")), a); }),
        Err::DatabaseNonTrovato);
}

// The journal copied between the engines, both ways: the same events (sequence numbers
// included) and state, the source unchanged; a destination that holds events is refused.
void TestRegistro::copiaTraMotori_data() {
    QTest::addColumn<bool>("daServer");
    QTest::addColumn<bool>("aServer");
    QTest::newRow("cartella -> server") << false << true;
    QTest::newRow("server -> cartella") << true << false;
    QTest::newRow("server -> server") << true << true;
}

void TestRegistro::copiaTraMotori() {
    QFETCH(bool, daServer);
    QFETCH(bool, aServer);
    if (test::uriServerProva().isEmpty())
        QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova (scripts/test.sh lo "
              "avvia)");
    Motore da(daServer), a(aServer);
    std::vector<Evento> v = bigliettiDiProva(7000); // more than one slice of a write and a read
    v[5].dettaglio = QStringLiteral("àè \"x\"");
    {
        const auto r = da.giornale();
        r->apriScrittura();
        r->aggiungi(v, QStringLiteral("{\"s\":2}"));
    }
    QCOMPARE(registro::copia(da.archivio, a.archivio), qint64(v.size()));
    const auto r = a.giornale();
    r->apriLettura();
    QCOMPARE(r->tutti(), v);
    QCOMPARE(r->stato(), QStringLiteral("{\"s\":2}"));
    const auto s = da.giornale();
    s->apriLettura();
    QCOMPARE(s->tutti().size(), v.size());
    QString dettaglio;
    QCOMPARE(test::numeroErrore([&] { registro::copia(da.archivio, a.archivio); }, &dettaglio),
             Err::ErroreArchivio);
    QVERIFY2(dettaglio.contains(QStringLiteral("contiene già")), qPrintable(dettaglio));
}

// Kiosk counters between two reads: the tickets each move stands for.
void TestRegistro::contatori_data() {
    QTest::addColumn<int>("sequenza");
    QTest::addColumn<int>("prima");
    QTest::addColumn<int>("dopo");
    QTest::addColumn<bool>("dopo99");
    QTest::addColumn<QString>("attesi");
    QTest::newRow("one ticket") << 1 << 4 << 5 << false << "b1:5";
    QTest::newRow("three at once") << 3 << 0 << 3 << false << "b3:1 b3:2 b3:3";
    QTest::newRow("unchanged") << 1 << 7 << 7 << false << "";
    QTest::newRow("back to 0: a new day") << 2 << 57 << 0 << false << "z2";
    QTest::newRow("new day and tickets between reads") << 2 << 57 << 2 << false << "z2 b2:1 b2:2";
    QTest::newRow("round after 99") << 11 << 98 << 2 << true << "b11:99 b11:1 b11:2";
    QTest::newRow("99 to 1") << 4 << 99 << 1 << true << "b4:1";
    QTest::newRow("past 99 without the wrap") << 4 << 99 << 100 << false << "b4:100";
    QTest::newRow("down from above 99 is a reset") << 5 << 150 << 1 << true << "z5 b5:1";
    QTest::newRow("a jump set by hand") << 6 << 3 << 50000 << false << "z6";
}

void TestRegistro::contatori() {
    QFETCH(int, sequenza);
    QFETCH(int, prima);
    QFETCH(int, dopo);
    QFETCH(bool, dopo99);
    QFETCH(QString, attesi);
    Osservatore o;
    biglietti::Regole regole;
    // The wrap setting of the sequence's own mode only.
    (sequenza == 11 ? regole.dopo99Singola : regole.dopo99Standard) = dopo99;
    o.aggiornaRegole(regole);
    Contatori c{};
    c[sequenza - 1] = prima;
    QVERIFY(o.aggiornaContatori(c, Ora).empty()); // the first read only sets the start
    c[sequenza - 1] = dopo;
    const std::vector<Evento> v = o.aggiornaContatori(c, Ora);
    QCOMPARE(breve(v), attesi);
    for (const Evento& e : v)
        QCOMPARE(e.ora(), Ora);
}

// Stations: calls, recalls, waits and absences in standard numbering, calls in single
// numbering, and a change of mode that records nothing.
void TestRegistro::postazioni() {
    Osservatore o;
    Assegnazioni a{};
    a[1].singola = true; // station 2 in single numbering
    o.aggiornaAssegnazioni(a);
    RecordsSingoli s{};
    QVERIFY(o.aggiornaDisplay(display({}), Ora).empty());
    QVERIFY(o.aggiornaSingoli(s, Ora).empty());
    const RecordDisplay chiamato7{7, 3, QStringLiteral("F"), {}};
    QCOMPARE(breve(o.aggiornaDisplay(display({{1, chiamato7}}), Ora)), QStringLiteral("c1:7"));
    QCOMPARE(breve(o.aggiornaDisplay(display({{1, {7, 2, "F", {}}}}), Ora)),
             QStringLiteral("a1:7"));
    QCOMPARE(breve(o.aggiornaDisplay(display({{1, chiamato7}}), Ora)), QStringLiteral("r1:7"));
    QCOMPARE(breve(o.aggiornaDisplay(display({{1, {8, 3, "F", {}}}, {3, {1, 3, "T", {}}}}), Ora)),
             QStringLiteral("c1:8 c3:1"));
    QCOMPARE(breve(o.aggiornaDisplay(display({{1, {0, 1, "F", {}}}, {3, {1, 3, "T", {}}}}), Ora)),
             QStringLiteral("x1"));
    // Station 2's display record is not its own in single numbering.
    QCOMPARE(breve(o.aggiornaDisplay(display({{2, {5, 3, "F", {}}}}), Ora)), QStringLiteral("x3"));
    s[1] = {12, 3, {}};
    s[3] = {40, 3, {}}; // station 4 is in standard numbering: its single record does not count
    QCOMPARE(breve(o.aggiornaSingoli(s, Ora)), QStringLiteral("s2:12"));
    QCOMPARE(breve(o.aggiornaSingoli(s, Ora)), QString());
    // Station 2 goes to standard numbering: its display record as it stands is the start.
    a[1].singola = false;
    o.aggiornaAssegnazioni(a);
    QCOMPARE(breve(o.aggiornaDisplay(display({{2, {5, 3, "F", {}}}}), Ora)), QString());
    QCOMPARE(breve(o.aggiornaDisplay(display({{2, {6, 3, "F", {}}}}), Ora)),
             QStringLiteral("c2:6"));
}

// A saved state continues in a new observer: what changed since is recorded, nothing twice;
// a damaged state text is refused.
void TestRegistro::statoSalvato() {
    Osservatore primo;
    primo.aggiornaAssegnazioni({});
    Contatori c{};
    c[0] = 3;
    primo.aggiornaContatori(c, Ora);
    primo.aggiornaDisplay(display({{1, {3, 3, "F", {}}}}), Ora);
    primo.aggiornaSingoli({}, Ora);
    const QString stato = primo.salva();

    Osservatore secondo;
    QVERIFY(secondo.ripristina(stato));
    c[0] = 5;
    QCOMPARE(breve(secondo.aggiornaContatori(c, Ora)), QStringLiteral("b1:4 b1:5"));
    QCOMPARE(breve(secondo.aggiornaDisplay(display({{1, {3, 3, "F", {}}}}), Ora)), QString());
    QCOMPARE(breve(secondo.aggiornaDisplay(display({{1, {4, 3, "F", {}}}}), Ora)),
             QStringLiteral("c1:4"));

    Osservatore terzo;
    QVERIFY(!terzo.ripristina(QStringLiteral("{\"contatori\":[1,2]}")));
    QVERIFY(!terzo.ripristina(QStringLiteral("non json")));
    QVERIFY(!terzo.contatori());
}

QTEST_GUILESS_MAIN(TestRegistro)
// Each ticket gets its code from the journal's key when written; a journal of version 1 (no
// codes, no key) is read as it is, and migrated with a new key by its writer, its old tickets
// keeping an empty code.
void TestRegistro::codiciDeiBiglietti() {
    MOTORE(m);
    const QString eventi =
        m.server ? QStringLiteral("registro.\"Eventi\"") : QStringLiteral("Eventi");
    const QString stato = m.server ? QStringLiteral("registro.\"Stato\"") : QStringLiteral("Stato");
    const QString chiave = m.server ? QStringLiteral("\"Chiave\"") : QStringLiteral("Chiave");
    {
        const auto r = m.giornale();
        r->apriScrittura();
        std::vector<Evento> v = bigliettiDiProva(1);
        r->aggiungi(v);
    }
    // Back to version 1: the column and the key gone.
    m.valore(QStringLiteral("ALTER TABLE %1 DROP COLUMN %2")
                 .arg(eventi, m.server ? QStringLiteral("\"Codice\"") : QStringLiteral("Codice")));
    m.valore(QStringLiteral("DELETE FROM %1 WHERE %2 = 'biglietti'").arg(stato, chiave));
    m.impostaVersione(1);
    {
        const auto r = m.giornale();
        r->apriLettura();
        QVERIFY(r->chiaveBiglietti().isEmpty());
        const std::vector<Evento> v = r->tutti();
        QCOMPARE(breve(v), QStringLiteral("b1:1"));
        QVERIFY(v[0].codice.isEmpty());
    }
    QByteArray k;
    {
        const auto r = m.giornale();
        r->apriScrittura();
        QCOMPARE(r->versione(), VersioneSchema);
        k = r->chiaveBiglietti();
        QCOMPARE(k.size(), 64);
        std::vector<Evento> v = bigliettiDiProva(2);
        v.erase(v.begin());
        r->aggiungi(v);
        QCOMPARE(v[0].codice, codiceBiglietto(k, v[0].data(), 1, 2));
    }
    const auto r = m.giornale();
    r->apriScrittura();
    QCOMPARE(r->chiaveBiglietti(), k); // made once, kept
    const std::vector<Evento> v = r->tutti();
    QCOMPARE(breve(v), QStringLiteral("b1:1 b1:2"));
    QVERIFY(v[0].codice.isEmpty());
    QCOMPARE(v[1].codice, codiceBiglietto(k, v[1].data(), 1, 2));
    QVERIFY(formaCodice(v[1].codice));
    QCOMPARE(chiaveDelRegistro(m.archivio), k);
}

#include "test_registro.moc"
