// The recorder qvr-server as a process of its own, beside the kiosk's and the stations' own
// operations run by this test on the same archive: the journal must hold exactly what they did.
// And the recorder in this process, in front of a journal that cannot be written for a while.
#include "app/globali.h"
#include "archive/biglietti.h"
#include "archive/lettore.h"
#include "archive/nomi.h"
#include "console/display.h"
#include "console/operazioni.h"
#include "registro/deposito.h"
#include "registro/registro.h"
#include "server/registratore.h"

#include "supporto.h"
#include "supporto_registro.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <sqlite3.h>

#include <csignal>

using namespace qvr;
using namespace qvr::registro;
using qvr::test::breve;

namespace {

// A recorder on an archive folder, stopped (SIGTERM, then killed) when the object goes.
class ProcessoRegistratore {
public:
    explicit ProcessoRegistratore(const QString& cartella) {
        m_p.setProgram(test::cartellaBuild() + QStringLiteral("/qvr-server"));
        m_p.setArguments({QStringLiteral("--archivio"), cartella});
        m_p.setProcessChannelMode(QProcess::SeparateChannels);
        m_p.start();
        if (!m_p.waitForStarted(5000))
            qFatal("qvr-server non parte");
    }
    ~ProcessoRegistratore() {
        if (QTest::currentTestFailed())
            qWarning("qvr-server:\n%s", qPrintable(log()));
        if (m_p.state() != QProcess::NotRunning) {
            m_p.terminate();
            if (!m_p.waitForFinished(5000)) {
                m_p.kill();
                m_p.waitForFinished(5000);
            }
        }
    }
    qint64 pid() const { return m_p.processId(); }
    // SIGTERM and the exit status; -1 when it did not end within 5 s.
    int ferma() {
        m_p.terminate();
        if (!m_p.waitForFinished(5000))
            return -1;
        return m_p.exitStatus() == QProcess::NormalExit ? m_p.exitCode() : -1;
    }
    void uccidi() {
        ::kill(static_cast<pid_t>(m_p.processId()), SIGKILL);
        m_p.waitForFinished(5000);
    }
    bool attivo() const { return m_p.state() == QProcess::Running; }
    // What it logged so far.
    QString log() {
        m_log += QString::fromUtf8(m_p.readAllStandardError());
        return m_log;
    }

private:
    QProcess m_p;
    QString m_log;
};

// The journal's events, read as any reader would (empty while it is missing or busy).
std::vector<Evento> eventi(const QString& archivio) {
    try {
        const auto r = deposito(archivio);
        r->apriLettura();
        return r->tutti();
    } catch (const ErroreQvr&) {
        return {};
    }
}

// The rows of the tests run on both engines: the server's with QVR_MOTORE=server while the row
// runs, so that its AmbienteProva makes the archive in a fresh database of the test server.
void motori() {
    QTest::addColumn<bool>("server");
    QTest::newRow("cartella") << false;
    QTest::newRow("server") << true;
}

class Motore {
public:
    explicit Motore(bool server) : m_prima(qgetenv("QVR_MOTORE")) {
        qputenv("QVR_MOTORE", server ? "server" : "cartella");
    }
    ~Motore() { qputenv("QVR_MOTORE", m_prima); }

private:
    QByteArray m_prima;
};

int quanti(const std::vector<Evento>& v, Tipo t) {
    return int(std::count_if(v.begin(), v.end(), [t](const Evento& e) { return e.tipo == t; }));
}

// The failure a journal gives while it is set: a full disk, a read-only share.
struct Guasto {
    std::optional<int> numero;
    int codice = 0;
    int tentativi = 0; // writes tried
};

// The real journal behind a seam that fails its writes as `guasto` says.
class RegistroGuastabile : public Deposito {
public:
    RegistroGuastabile(std::unique_ptr<Deposito> vero, Guasto* guasto)
        : m_vero(std::move(vero)), m_guasto(guasto) {}
    QString nome() const override { return m_vero->nome(); }
    void apriScrittura() override { m_vero->apriScrittura(); }
    void apriLettura() override { m_vero->apriLettura(); }
    void chiudi() override { m_vero->chiudi(); }
    bool aperto() const override { return m_vero->aperto(); }
    int versione() override { return m_vero->versione(); }
    void aggiungi(std::vector<Evento>& eventi, const std::optional<QString>& stato) override {
        ++m_guasto->tentativi;
        if (m_guasto->numero)
            throw ErroreRegistro(*m_guasto->numero, nome() + QStringLiteral(": guasto di prova"),
                                 m_guasto->codice);
        m_vero->aggiungi(eventi, stato);
    }
    QString stato() override { return m_vero->stato(); }
    std::optional<Evento> ultimo() override { return m_vero->ultimo(); }
    QString accantona(const QDateTime& ora) override { return m_vero->accantona(ora); }

protected:
    void leggiCon(qint64 dal, qint64 al, bool, void (*f)(void*, const Evento&),
                  void* dati) override {
        m_vero->leggi(dal, al, [&](const Evento& e) { f(dati, e); });
    }

private:
    std::unique_ptr<Deposito> m_vero;
    Guasto* m_guasto;
};

} // namespace

#define MOTORE()                                                                                   \
    QFETCH(bool, server);                                                                          \
    if (server && test::uriServerProva().isEmpty())                                                \
        QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova (scripts/test.sh "      \
              "lo avvia)");                                                                        \
    Motore motore(server)

class TestRegistratore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void giornata_data() { motori(); }
    void giornata();
    void dueRegistratori_data() { motori(); }
    void dueRegistratori();
    void bloccoPerso();
    void registroDanneggiato();
    void registroNonScrivibile_data();
    void registroNonScrivibile();
    void archivioIrraggiungibile();
    void riga();
};

void TestRegistratore::init() {
    LettoreArchivio::impostaTimeoutOccupato(2000);
}

// Tickets at the kiosk, calls, a wait, a recall and a reset at a standard station, calls at a
// station in single numbering: the journal holds each once, in order; the stations' databases
// are not written by the recorder.
void TestRegistratore::giornata() {
    MOTORE();
    OpzioniArchivio o;
    o.modi[1] = QStringLiteral("SG");
    o.totem = true;
    test::AmbienteProva amb(o);
    const QString arch = amb.archivio();
    const ImprontaFile qvrPrima = LettoreArchivio(arch).impronta(nomi::FileQVR);
    ProcessoRegistratore rec(arch);
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 1, 5000);

    PercorsoArchivi = arch;
    for (int i = 0; i < 3; ++i)
        biglietti::emetti(arch, 1);
    biglietti::emetti(arch, 11);
    biglietti::emetti(arch, 11);
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b1:1 b1:2 b1:3 b11:1 b11:2"),
                              5000);

    QString attesi = QStringLiteral("b1:1 b1:2 b1:3 b11:1 b11:2");
    auto passo = [&](const std::function<void()>& operazione, const QString& evento) {
        operazione();
        attesi += QLatin1Char(' ') + evento;
        QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), attesi, 5000);
    };
    NumeroPostazione = 1;
    passo([] { operazioni::ChiamaProssimo(false, false); }, QStringLiteral("c1:1"));
    passo([] { operazioni::SegnalaAttesa(); }, QStringLiteral("a1:1"));
    passo([] { AggiornaDisplay(qint32(1), 3, QStringLiteral("T")); }, QStringLiteral("r1:1"));
    passo([] { operazioni::ChiamaProssimo(false, false); }, QStringLiteral("c1:2"));
    NumeroPostazione = 2;
    passo([] { operazioni::ChiamaSingola(false); }, QStringLiteral("s2:1"));
    passo([] { operazioni::ChiamaSingola(false); }, QStringLiteral("s2:2"));
    NumeroPostazione = 1;
    passo([] { AggiornaDisplay(qint32(0), 1, QStringLiteral("F")); }, QStringLiteral("x1"));

    QCOMPARE(rec.ferma(), 0);
    const std::vector<Evento> v = eventi(arch);
    QCOMPARE(breve(v, true), QStringLiteral("avvio ") + attesi + QStringLiteral(" arresto"));
    for (size_t i = 1; i < v.size(); ++i)
        QVERIFY(v[i].seq > v[i - 1].seq && v[i].oraUtcMs >= v[i - 1].oraUtcMs);
    // Only its own files: the journal and its lock; QVR.mdb untouched.
    QCOMPARE(LettoreArchivio(arch).impronta(nomi::FileQVR), qvrPrima);
    if (server)
        return;
    QStringList propri = QDir(arch).entryList({QStringLiteral("Registro*")}, QDir::Files);
    propri.sort();
    QCOMPARE(propri,
             (QStringList{QStringLiteral("Registro.lock"), QStringLiteral("Registro.mdb")}));
}

// Two recorders on one archive: one records, the other waits; the first killed, the second
// takes over within 5 s and records the handover; no event twice, none missing.
void TestRegistratore::dueRegistratori() {
    MOTORE();
    OpzioniArchivio o;
    o.totem = true;
    test::AmbienteProva amb(o);
    const QString arch = amb.archivio();
    auto primo = std::make_unique<ProcessoRegistratore>(arch);
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 1, 5000);
    ProcessoRegistratore secondo(arch);
    biglietti::emetti(arch, 3);
    biglietti::emetti(arch, 3);
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b3:1 b3:2"), 5000);
    QVERIFY(secondo.attivo());
    QCOMPARE(quanti(eventi(arch), Tipo::Avvio), 1); // the second only waits

    const qint64 pidPrimo = primo->pid();
    primo->uccidi();
    QElapsedTimer t;
    t.start();
    biglietti::emetti(arch, 3); // issued while nobody records
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Passaggio), 1, 5000);
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b3:1 b3:2 b3:3"), 5000);
    biglietti::emetti(arch, 3);
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b3:1 b3:2 b3:3 b3:4"), 5000);
    QCOMPARE(secondo.ferma(), 0);

    const std::vector<Evento> v = eventi(arch);
    QCOMPARE(breve(v, true), QStringLiteral("avvio b3:1 b3:2 passaggio avvio b3:3 b3:4 arresto"));
    const auto p =
        std::find_if(v.begin(), v.end(), [](const Evento& e) { return e.tipo == Tipo::Passaggio; });
    QVERIFY2(p->dettaglio.contains(QStringLiteral(":%1").arg(pidPrimo)), qPrintable(p->dettaglio));
    QVERIFY(p->dettaglio.contains(QStringLiteral("senza registrare l'arresto")));
    QVERIFY(p->registratore != v.front().registratore);
}

// On a server, the session holding the recorders' lock ended from outside (a server restart, a
// dropped connection): the recorder stops writing at once, takes the lock again and resumes,
// recording it; what happened meanwhile is recorded once.
void TestRegistratore::bloccoPerso() {
    if (test::uriServerProva().isEmpty())
        QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova (scripts/test.sh lo "
              "avvia)");
    Motore motore(true);
    OpzioniArchivio o;
    o.totem = true;
    test::AmbienteProva amb(o);
    const QString arch = amb.archivio();
    ProcessoRegistratore rec(arch);
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 1, 5000);
    biglietti::emetti(arch, 4);
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b4:1"), 5000);
    QCOMPARE(test::interroga(amb.file(nomi::FileQVR),
                             QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_locks "
                                            "WHERE locktype = 'advisory' AND granted"))
                 .toInt(),
             1);
    biglietti::emetti(arch, 4);
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b4:1 b4:2"), 5000);
    QVERIFY(rec.log().contains(QStringLiteral("Blocco del registro perso")));
    QCOMPARE(rec.ferma(), 0);
    const std::vector<Evento> v = eventi(arch);
    const QString tutto = breve(v, true);
    QVERIFY2(tutto == QStringLiteral("avvio b4:1 passaggio avvio b4:2 arresto") ||
                 tutto == QStringLiteral("avvio b4:1 b4:2 passaggio avvio arresto"),
             qPrintable(tutto));
    const auto p =
        std::find_if(v.begin(), v.end(), [](const Evento& e) { return e.tipo == Tipo::Passaggio; });
    QCOMPARE(p->dettaglio, QStringLiteral("riprende dopo aver perso il blocco del registro"));
}

// A journal that is not a database: kept aside with its bytes, a new one started, the fact
// recorded in it.
void TestRegistratore::registroDanneggiato() {
    test::AmbienteProva amb;
    const QString arch = amb.archivio();
    const QByteArray guasto = QByteArray("SQLite format 3") + QByteArray(5000, '\x7f');
    test::scriviFile(amb.file(NomeFile), guasto);
    ProcessoRegistratore rec(arch);
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 1, 5000);
    QCOMPARE(rec.ferma(), 0);
    const QStringList copie =
        QDir(arch).entryList({QStringLiteral("Registro-danneggiato-*.mdb")}, QDir::Files);
    QCOMPARE(copie.size(), 1);
    QCOMPARE(test::contenuto(QDir(arch).filePath(copie.first())), guasto);
    const std::vector<Evento> v = eventi(arch);
    QCOMPARE(breve(v, true), QStringLiteral("danneggiato avvio arresto"));
    QVERIFY(v.front().dettaglio.endsWith(copie.first()));
}

// A journal that cannot be written for a while (disk full, read-only share): the events are
// held in memory, the fault logged once, the write tried again every 2 s, and when it works
// again every event lands once, in order.
void TestRegistratore::registroNonScrivibile_data() {
    QTest::addColumn<int>("numero");
    QTest::addColumn<int>("codice");
    QTest::newRow("disco pieno") << Err::DiscoPieno << SQLITE_FULL;
    QTest::newRow("sola lettura") << Err::SolaLettura << SQLITE_READONLY;
}

void TestRegistratore::registroNonScrivibile() {
    QFETCH(int, numero);
    QFETCH(int, codice);
    OpzioniArchivio o;
    o.totem = true;
    test::AmbienteProva amb(o);
    const QString arch = amb.archivio();
    QStringList log;
    server::ascoltaLog([&](int, const QString& t) { log << t; });
    const auto basta = qScopeGuard([] { server::ascoltaLog({}); });
    Guasto g;
    server::Registratore rec(arch, nullptr,
                             std::make_unique<RegistroGuastabile>(deposito(arch), &g));
    rec.avvia();
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 1, 5000);

    g.numero = numero;
    g.codice = codice;
    PercorsoArchivi = arch;
    NumeroPostazione = 2;
    for (int i = 0; i < 3; ++i)
        biglietti::emetti(arch, 2);
    operazioni::ChiamaProssimo(false, false);
    QTRY_COMPARE_WITH_TIMEOUT(rec.inAttesa(), size_t(4), 5000);
    const QString testo = log.join(u'\n');
    QVERIFY2(testo.contains(QStringLiteral("Registro non scrivibile: Errore %1").arg(numero)),
             qPrintable(testo));
    // Tried again, every 2 s, logged once.
    const int tentativi = g.tentativi;
    QTRY_VERIFY_WITH_TIMEOUT(g.tentativi > tentativi, 5000);
    QCOMPARE(log.filter(QStringLiteral("Registro non scrivibile")).size(), 1);
    biglietti::emetti(arch, 2);
    QTRY_COMPARE_WITH_TIMEOUT(rec.inAttesa(), size_t(5), 5000);
    QCOMPARE(breve(eventi(arch)), QString()); // nothing written meanwhile

    g.numero.reset();
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b2:1 b2:2 b2:3 c2:1 b2:4"),
                              6000);
    QCOMPARE(rec.inAttesa(), size_t(0));
    QVERIFY(log.join(u'\n').contains(QStringLiteral("di nuovo scrivibile: 5 eventi")));
    rec.ferma();
    QCOMPARE(breve(eventi(arch), true), QStringLiteral("avvio b2:1 b2:2 b2:3 c2:1 b2:4 arresto"));
}

// The archive folder gone for a while: a gap with its error, then what was issued meanwhile
// (here: right after it came back) recorded; the recorder never exits.
void TestRegistratore::archivioIrraggiungibile() {
    test::AmbienteProva amb;
    const QString arch = amb.archivio();
    ProcessoRegistratore rec(arch);
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(arch), Tipo::Avvio), 1, 5000);
    const QString via = arch + QStringLiteral("-via");
    QVERIFY(QDir().rename(arch, via));
    // The journal is gone with the folder: the gap is held in memory until it is back.
    QTRY_VERIFY_WITH_TIMEOUT(rec.log().contains(QStringLiteral("Archivio non leggibile")), 5000);
    QVERIFY(rec.attivo());
    QVERIFY(QDir().rename(via, arch));
    biglietti::emetti(arch, 5);
    QTRY_COMPARE_WITH_TIMEOUT(breve(eventi(arch)), QStringLiteral("b5:1"), 6000);
    QCOMPARE(rec.ferma(), 0);
    const std::vector<Evento> v = eventi(arch);
    QCOMPARE(breve(v, true), QStringLiteral("avvio inizio-buco fine-buco b5:1 arresto"));
    QVERIFY(v[1].oraUtcMs < v[2].oraUtcMs);
    QCOMPARE(v[1].numero, Err::PercorsoNonValido);
    QVERIFY2(v[1].dettaglio.startsWith(QStringLiteral("Errore 3044")), qPrintable(v[1].dettaglio));
}

// The command line: help and version without an archive or a display; a missing settings file
// is an Italian message and exit 2.
void TestRegistratore::riga() {
    QProcess p;
    const QString prog = test::cartellaBuild() + QStringLiteral("/qvr-server");
    p.start(prog, {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("--archivio CARTELLA"));
    p.start(prog, {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().startsWith("qvr-server "));
    p.start(prog, {QStringLiteral("--impostazioni"), QStringLiteral("/nessuna/qvr-server.ini")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("non trovato")));
    // The settings file names the archive.
    test::AmbienteProva amb;
    const QString ini = amb.cartella() + QStringLiteral("/qvr-server.ini");
    test::scriviFile(ini, "Archivio=" + amb.archivio().toUtf8() + "\n");
    p.start(prog, {QStringLiteral("--impostazioni"), ini});
    QVERIFY(p.waitForStarted(5000));
    QTRY_COMPARE_WITH_TIMEOUT(quanti(eventi(amb.archivio()), Tipo::Avvio), 1, 5000);
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(breve(eventi(amb.archivio()), true), QStringLiteral("avvio arresto"));
}

QTEST_GUILESS_MAIN(TestRegistratore)
#include "test_registratore.moc"
