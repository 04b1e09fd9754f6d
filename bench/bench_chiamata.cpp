// What a call costs, next to the least the machine can do for the same work, in one run:
//  - standard numbering: ChiamaProssimo (the display record read and rewritten in one write
//    transaction) against the same read and update done with the sqlite3 C API on one open
//    connection (rollback journal, synchronous FULL);
//  - single numbering with the kiosk: LeggiCodaSingola + ChiamaSingola + AggiornaCodaSingola
//    against the sum of the bare operations it needs (read P11Q, draw from Nr4All.txt with
//    fdatasync, update QVRA.mdb, read Nr4All.txt, read P11 and update P11Q in Totem.mdb);
//  - one kiosk refresh (AggiornaCodaSingola, AggiornaCodaStandard) against its bare operations;
//  - a press of the real console button Command1(0) of Form1 on the offscreen platform, in both
//    numbering modes (it also writes the call history line with its own fdatasync).
// Prints medians and ratios and exits 0 whatever the figures.
//
// Usage: bench_chiamata [iterations per round, default 40] [rounds, default 5]
//        bench_chiamata --solo MODE N   runs only N operations of MODE (standard, singola,
//                                       coda-singola, coda-standard, pressione-standard,
//                                       pressione-singola) after the set-up, for counting the
//                                       syncs from outside (strace -c).
// The archive lies in a temporary folder under TMPDIR (or /tmp): put it on the disk to measure.

#include "statistiche.h"

#include "app/globali.h"
#include "archive/contatore.h"
#include "archive/crea_archivio.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "console/copia_unica.h"
#include "console/cronologia.h"
#include "console/form1.h"
#include "console/operazioni.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using qvr::bench::mediana;
using qvr::bench::percentile;

using Orologio = std::chrono::steady_clock;

constexpr int StazioneStandard = 1;
constexpr int StazioneSingola = 2;

[[noreturn]] void muori(const std::string& cosa) {
    std::fprintf(stderr, "bench_chiamata: %s\n", cosa.c_str());
    std::exit(1);
}

// Microseconds taken by each of n runs of `passo`, appended to `tempi`.
void misura(std::vector<double>& tempi, int n, const std::function<void()>& passo) {
    for (int i = 0; i < n; ++i) {
        const auto t0 = Orologio::now();
        passo();
        tempi.push_back(std::chrono::duration<double, std::micro>(Orologio::now() - t0).count());
    }
}

// One database kept open, with the durability the archive uses.
class Connessione {
public:
    explicit Connessione(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            muori("apertura " + file);
        sqlite3_busy_timeout(m_db, 5000);
        esegui("PRAGMA journal_mode=DELETE");
        esegui("PRAGMA synchronous=FULL");
    }
    ~Connessione() {
        for (auto& [testo, stmt] : m_preparate)
            sqlite3_finalize(stmt);
        sqlite3_close(m_db);
    }
    Connessione(const Connessione&) = delete;
    Connessione& operator=(const Connessione&) = delete;

    void esegui(const char* sql) {
        char* errore = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &errore) != SQLITE_OK)
            muori(std::string(sql) + ": " + (errore ? errore : "?"));
    }

    sqlite3_stmt* prepara(const std::string& sql) {
        auto it = m_preparate.find(sql);
        if (it != m_preparate.end())
            return it->second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            muori(sql + ": " + sqlite3_errmsg(m_db));
        m_preparate.emplace(sql, stmt);
        return stmt;
    }

    // The first row's rowid and first column.
    std::pair<sqlite3_int64, sqlite3_int64> primaRiga(const std::string& sql) {
        sqlite3_stmt* s = prepara(sql);
        std::pair<sqlite3_int64, sqlite3_int64> esito{0, 0};
        if (sqlite3_step(s) == SQLITE_ROW)
            esito = {sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1)};
        sqlite3_reset(s);
        return esito;
    }

    void aggiorna(const std::string& sql, sqlite3_int64 valore, sqlite3_int64 rowid) {
        sqlite3_stmt* s = prepara(sql);
        sqlite3_bind_int64(s, 1, valore);
        sqlite3_bind_int64(s, 2, rowid);
        if (sqlite3_step(s) != SQLITE_DONE)
            muori(sql + ": " + sqlite3_errmsg(m_db));
        sqlite3_reset(s);
    }

    int synchronous() {
        sqlite3_stmt* s = prepara("PRAGMA synchronous");
        int valore = -1;
        if (sqlite3_step(s) == SQLITE_ROW)
            valore = sqlite3_column_int(s, 0);
        sqlite3_reset(s);
        return valore;
    }

private:
    sqlite3* m_db = nullptr;
    std::map<std::string, sqlite3_stmt*> m_preparate;
};

// The bare operations a call is made of, on connections kept open.
class Diretto {
public:
    Diretto(const QString& archivio)
        : m_fileQvra((archivio + "/QVRA.mdb").toStdString()),
          m_fileQvrb((archivio + "/QVRB.mdb").toStdString()),
          m_fileTotem((archivio + "/Totem.mdb").toStdString()), m_qvra(m_fileQvra),
          m_qvrb(m_fileQvrb), m_totem(m_fileTotem),
          m_contatore((archivio + "/Nr4All.txt").toStdString()) {}

    int synchronous() { return m_qvrb.synchronous(); }

    // true: every operation opens its database afresh and closes it, as the client does.
    void riapri(bool si) { m_riapri = si; }

    // Standard call: read the display record and write the next number in one transaction.
    void chiamaStandard() {
        su(m_qvrb, m_fileQvrb, [](Connessione& c) {
            c.esegui("BEGIN IMMEDIATE");
            const auto [rowid, numero] =
                c.primaRiga("SELECT rowid, NumeroA1 FROM NumeriCode1 LIMIT 1");
            c.aggiorna("UPDATE NumeriCode1 SET NumeroA1=?, StatoN1=3, F1='F' WHERE rowid=?",
                       numero + 1, rowid);
            c.esegui("COMMIT");
        });
    }
    // P11Q read (what LeggiCodaSingola does).
    void leggiCoda() {
        su(m_totem, m_fileTotem,
           [](Connessione& c) { c.primaRiga("SELECT rowid, P11Q FROM Numerazione LIMIT 1"); });
    }
    // P1 read (what AggiornaCodaStandard does).
    void leggiP1() {
        su(m_totem, m_fileTotem,
           [](Connessione& c) { c.primaRiga("SELECT rowid, P1 FROM Numerazione LIMIT 1"); });
    }
    // The single-numbering record rewritten (the archive part of ChiamaSingola).
    void scriviSingola(int numero) {
        su(m_qvra, m_fileQvra, [numero](Connessione& c) {
            c.esegui("BEGIN IMMEDIATE");
            const auto rowid =
                c.primaRiga("SELECT rowid, NUMERO FROM NumerazioneSingle2 LIMIT 1").first;
            c.aggiorna("UPDATE NumerazioneSingle2 SET NUMERO=?, Stato=3 WHERE rowid=?", numero,
                       rowid);
            c.esegui("COMMIT");
        });
    }
    // P11 read and P11Q rewritten (the archive part of AggiornaCodaSingola).
    void scriviCoda(int ultimo) {
        su(m_totem, m_fileTotem, [ultimo](Connessione& c) {
            c.esegui("BEGIN IMMEDIATE");
            const auto [rowid, p11] = c.primaRiga("SELECT rowid, P11 FROM Numerazione LIMIT 1");
            c.aggiorna("UPDATE Numerazione SET P11Q=? WHERE rowid=?",
                       std::max<sqlite3_int64>(0, p11 - ultimo), rowid);
            c.esegui("COMMIT");
        });
    }
    // The whole single-numbering call with the kiosk, bare.
    void chiamaSingola() {
        leggiCoda();
        scriviSingola(preleva(true));
        scriviCoda(leggi());
    }

    // Nr4All.txt: lock, read the first item, overwrite in place, cut, (sync), close.
    int preleva(bool sincronizza) {
        const int fd = apri();
        char buf[64] = {};
        if (::pread(fd, buf, sizeof buf - 1, 0) < 0)
            muori("read Nr4All.txt");
        const int n = std::atoi(buf) + 1;
        const std::string riga = std::to_string(n) + "\r\n";
        if (::pwrite(fd, riga.data(), riga.size(), 0) != ssize_t(riga.size()) ||
            ::ftruncate(fd, off_t(riga.size())) != 0)
            muori("write Nr4All.txt");
        if (sincronizza && ::fdatasync(fd) != 0)
            muori("fdatasync Nr4All.txt");
        ::close(fd);
        return n;
    }
    // Nr4All.txt: lock, read the first item, close.
    int leggi() {
        const int fd = apri();
        char buf[64] = {};
        if (::pread(fd, buf, sizeof buf - 1, 0) < 0)
            muori("read Nr4All.txt");
        ::close(fd);
        return std::atoi(buf);
    }

private:
    int apri() {
        const int fd = ::open(m_contatore.c_str(), O_RDWR);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            muori("open/flock Nr4All.txt");
        return fd;
    }

    template <typename F> void su(Connessione& aperta, const std::string& file, F&& lavoro) {
        if (!m_riapri) {
            lavoro(aperta);
            return;
        }
        Connessione fresca(file);
        lavoro(fresca);
    }

    std::string m_fileQvra, m_fileQvrb, m_fileTotem;
    Connessione m_qvra, m_qvrb, m_totem;
    std::string m_contatore;
    bool m_riapri = false;
};

// The archive and the working directory of the run: station 1 in standard numbering, station 2
// in single numbering, the kiosk in use with enough tickets that no call meets an empty queue.
class Banco {
public:
    Banco() {
        if (!m_dir.isValid())
            muori("cartella temporanea");
        m_archivio = m_dir.path() + QStringLiteral("/archivio");
        qvr::OpzioniArchivio opzioni;
        opzioni.modi[StazioneSingola - 1] = QStringLiteral("SG");
        opzioni.totem = true;
        qvr::creaArchivio(m_archivio, opzioni);
        sqlite3* db = nullptr;
        const std::string totem = (m_archivio + "/Totem.mdb").toStdString();
        if (sqlite3_open(totem.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "UPDATE Numerazione SET P1=100000000, P11=100000000", nullptr, nullptr,
                         nullptr) != SQLITE_OK)
            muori("biglietti in Totem.mdb");
        sqlite3_close(db);
        QDir::setCurrent(m_dir.path());
        qvr::CopiaUnica::impostaPercorsoPredefinito(m_dir.path() + QStringLiteral("/copia.lock"));
        qvr::PercorsoArchivi = m_archivio;
        qvr::TotemInUso = true;
    }

    QString archivio() const { return m_archivio; }
    QString cartella() const { return m_dir.path(); }

    void scriviPercorsi(int stazione) const {
        QFile f(m_dir.path() + QStringLiteral("/percorsi.txt"));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            muori("percorsi.txt");
        f.write(QStringLiteral("\"%1\",%2\r\n").arg(m_archivio).arg(stazione).toUtf8());
    }

    // A console for `stazione`, loaded and shown as main does after "Avvia Client".
    std::unique_ptr<qvr::Form1> console(int stazione) const {
        scriviPercorsi(stazione);
        qvr::azzeraValoriGlobali();
        // Each console of this process holds its own single-copy lock.
        qvr::CopiaUnica::impostaPercorsoPredefinito(m_dir.path() +
                                                    QStringLiteral("/copia-%1.lock").arg(stazione));
        qvr::TotemInUso = true; // the launcher's kiosk box, as "Avvia Client" leaves it
        auto form = std::make_unique<qvr::Form1>();
        form->Carica();
        form->show();
        QApplication::processEvents();
        return form;
    }

private:
    QTemporaryDir m_dir;
    QString m_archivio;
};

void stazione(int n) {
    qvr::NumeroPostazione = n;
    qvr::PostazioneTesto = QString::number(n);
}

void chiamataStandard() {
    stazione(StazioneStandard);
    qvr::ModoSingolo = false;
    qvr::operazioni::ChiamaProssimo(false, false);
}

void chiamataSingola() {
    stazione(StazioneSingola);
    qvr::ModoSingolo = true;
    qvr::operazioni::LeggiCodaSingola();
    qvr::operazioni::ChiamaSingola(false);
    qvr::operazioni::AggiornaCodaSingola();
}

void codaSingola() {
    stazione(StazioneSingola);
    qvr::operazioni::AggiornaCodaSingola();
}

void codaStandard() {
    stazione(StazioneStandard);
    qvr::operazioni::AggiornaCodaStandard(QStringLiteral("1"));
}

// As misura, with `prima` run untimed before each run of `passo`.
void misuraDopo(std::vector<double>& tempi, int n, const std::function<void()>& prima,
                const std::function<void()>& passo) {
    for (int i = 0; i < n; ++i) {
        prima();
        misura(tempi, 1, passo);
    }
}

void riga(const char* nome, const std::vector<double>& tempi) {
    std::printf("  %-52s %9.0f us  (p90 %7.0f)\n", nome, mediana(tempi), percentile(tempi, 0.9));
}

void rapporto(const char* nome, double client, double limite) {
    std::printf("  %-52s %9.2f\n", nome, limite > 0 ? client / limite : 0.0);
}

int solo(const Banco& banco, const std::string& modo, int n) {
    if (modo == "standard")
        for (int i = 0; i < n; ++i)
            chiamataStandard();
    else if (modo == "singola")
        for (int i = 0; i < n; ++i)
            chiamataSingola();
    else if (modo == "coda-singola")
        for (int i = 0; i < n; ++i)
            codaSingola();
    else if (modo == "coda-standard")
        for (int i = 0; i < n; ++i)
            codaStandard();
    else if (modo == "pressione-standard" || modo == "pressione-singola") {
        auto form =
            banco.console(modo == "pressione-standard" ? StazioneStandard : StazioneSingola);
        for (int i = 0; i < n; ++i)
            form->Command1(0)->click();
    } else {
        std::fprintf(stderr, "bench_chiamata: modo sconosciuto %s\n", modo.c_str());
        return 2;
    }
    return 0;
}

// Lines of a text file (0 when it cannot be read).
int righe(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(f.readAll().count('\n'));
}

// A figure is worth something only if the work was done: every call published its number,
// every draw advanced the counter, every press wrote its history line. Prints what it found;
// false when anything is missing (a press that met an empty queue, say, would time nothing).
bool verifica(const Banco& banco, qint64 chiamateStandard, qint64 prelievi, int pressioni) {
    Connessione qvrb((banco.archivio() + QStringLiteral("/QVRB.mdb")).toStdString());
    const qint64 numeroA1 =
        qvrb.primaRiga("SELECT rowid, NumeroA1 FROM NumeriCode1 LIMIT 1").second;
    const qint64 contatore =
        qvr::contatore::leggiLong(banco.archivio() + QStringLiteral("/Nr4All.txt"));
    const int righeStd =
        righe(banco.cartella() + "/" + qvr::Cronologia::nomeFile(StazioneStandard));
    const int righeSing =
        righe(banco.cartella() + "/" + qvr::Cronologia::nomeFile(StazioneSingola));
    std::printf(
        "\nVerifica del lavoro fatto: NumeroA1 %lld (atteso %lld), Nr4All %lld (atteso %lld), "
        "righe di cronologia %d e %d (attese %d)\n",
        static_cast<long long>(numeroA1), static_cast<long long>(chiamateStandard),
        static_cast<long long>(contatore), static_cast<long long>(prelievi), righeStd, righeSing,
        pressioni);
    return numeroA1 == chiamateStandard && contatore == prelievi && righeStd == pressioni &&
           righeSing == pressioni;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Banco banco;

    if (argc > 1 && std::strcmp(argv[1], "--solo") == 0) {
        if (argc < 4)
            muori("uso: bench_chiamata --solo MODO N");
        return solo(banco, argv[2], std::max(0, std::atoi(argv[3])));
    }
    const int iterazioni = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const int giri = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    Diretto diretto(banco.archivio());
    std::vector<double> tStd, tStdRaw, tSing, tCodaLett, tPrel, tPrelNoSync, tQvra, tLettCont,
        tCodaScr, tCodaScrUguale, tCodaS, tCodaSUguale, tCodaStd, tP1, tSingRaw, tStdRiap,
        tSingRiap;

    // Warm-up of every path.
    chiamataStandard();
    chiamataSingola();
    codaStandard();
    diretto.chiamaStandard();
    diretto.scriviCoda(diretto.leggi());

    // The two consoles, loaded as after "Avvia Client"; each press first restores the
    // program-wide values of its station, which the other console's load changed.
    std::vector<double> tPremiStd, tPremiSing;
    auto formStd = banco.console(StazioneStandard);
    auto formSing = banco.console(StazioneSingola);
    const auto premiStd = [&] {
        stazione(StazioneStandard);
        qvr::ModoSingolo = false;
        formStd->Command1(0)->click();
    };
    const auto premiSing = [&] {
        stazione(StazioneSingola);
        qvr::ModoSingolo = true;
        formSing->Command1(0)->click();
    };
    premiStd();
    premiSing();

    int numeroSingola = 1000000;
    for (int g = 0; g < giri; ++g) {
        misura(tPremiStd, iterazioni, premiStd);
        misura(tPremiSing, iterazioni, premiSing);
        misura(tStd, iterazioni, chiamataStandard);
        misura(tStdRaw, iterazioni, [&] { diretto.chiamaStandard(); });
        misura(tSingRaw, iterazioni, [&] { diretto.chiamaSingola(); });
        diretto.riapri(true);
        misura(tStdRiap, iterazioni, [&] { diretto.chiamaStandard(); });
        misura(tSingRiap, iterazioni, [&] { diretto.chiamaSingola(); });
        diretto.riapri(false);
        misura(tSing, iterazioni, chiamataSingola);
        misura(tCodaLett, iterazioni, [&] { diretto.leggiCoda(); });
        misura(tPrel, iterazioni, [&] { diretto.preleva(true); });
        misura(tPrelNoSync, iterazioni, [&] { diretto.preleva(false); });
        misura(tQvra, iterazioni, [&] { diretto.scriviSingola(++numeroSingola); });
        misura(tLettCont, iterazioni, [&] { diretto.leggi(); });
        // A refresh after a number was drawn writes a new P11Q; with nothing drawn since the
        // last one the row is rewritten with the same values, which the engine does not write.
        const auto avanza = [&] { diretto.preleva(false); };
        misuraDopo(tCodaScr, iterazioni, avanza, [&] { diretto.scriviCoda(diretto.leggi()); });
        misura(tCodaScrUguale, iterazioni, [&] { diretto.scriviCoda(diretto.leggi()); });
        misuraDopo(tCodaS, iterazioni, avanza, codaSingola);
        misura(tCodaSUguale, iterazioni, codaSingola);
        misura(tCodaStd, iterazioni, codaStandard);
        misura(tP1, iterazioni, [&] { diretto.leggiP1(); });
    }

    std::printf("bench_chiamata: %d giri x %d iterazioni, mediane (SQLite %s, synchronous=%d, "
                "journal DELETE, archivio in %s)\n\n",
                giri, iterazioni, sqlite3_libversion(), diretto.synchronous(),
                qPrintable(QDir::tempPath()));
    std::printf(
        "Operazioni sul disco, nude (una connessione aperta, C API / chiamate di sistema):\n");
    riga("QVRB: lettura + update NumeriCode1 in una transazione", tStdRaw);
    riga("Totem: lettura P11Q", tCodaLett);
    riga("Totem: lettura P1", tP1);
    riga("Nr4All: lock + read + write + fdatasync", tPrel);
    riga("Nr4All: lock + read + write (senza fdatasync)", tPrelNoSync);
    riga("QVRA: update NumerazioneSingle2 in una transazione", tQvra);
    riga("Nr4All: lock + read", tLettCont);
    riga("Totem: lettura P11 + update P11Q in una transazione", tCodaScr);
    riga("  lo stesso con P11Q invariato (nessuna scrittura)", tCodaScrUguale);

    const double rawStd = mediana(tStdRaw);
    const double rawSing = mediana(tCodaLett) + mediana(tPrel) + mediana(tQvra) +
                           mediana(tLettCont) + mediana(tCodaScr);
    const double rawSingNoSync = rawSing - mediana(tPrel) + mediana(tPrelNoSync);
    const double rawCodaS = mediana(tLettCont) + mediana(tCodaScr);
    const double rawCodaSUguale = mediana(tLettCont) + mediana(tCodaScrUguale);
    const double rawCodaStd = mediana(tP1);

    std::printf("\nChiamata (pressione -> record scritto sul disco):\n");
    riga("standard: ChiamaProssimo", tStd);
    std::printf("  %-52s %9.0f us\n", "  limite nudo (QVRB lettura + update)", rawStd);
    riga("singola+totem: LeggiCoda+ChiamaSingola+AggiornaCoda", tSing);
    std::printf("  %-52s %9.0f us\n", "  limite nudo (somma delle 5 operazioni nude)", rawSing);
    std::printf("  %-52s %9.0f us\n", "  limite nudo, Nr4All senza fdatasync", rawSingNoSync);
    riga("  limite nudo, le 5 operazioni di seguito", tSingRaw);
    riga("standard, nudo riaprendo il database", tStdRiap);
    riga("singola+totem, nudo riaprendo i database", tSingRiap);
    riga("Form1 Command1(0), standard (offscreen)", tPremiStd);
    riga("Form1 Command1(0), singola+totem (offscreen)", tPremiSing);

    std::printf("\nAggiornamento del totem (un tick di Timer1):\n");
    riga("AggiornaCodaSingola, coda cambiata", tCodaS);
    std::printf("  %-52s %9.0f us\n", "  limite nudo (Nr4All lettura + Totem update)", rawCodaS);
    riga("AggiornaCodaSingola, coda invariata", tCodaSUguale);
    std::printf("  %-52s %9.0f us\n", "  limite nudo (lo stesso, nessuna scrittura)",
                rawCodaSUguale);
    riga("AggiornaCodaStandard", tCodaStd);
    std::printf("  %-52s %9.0f us\n", "  limite nudo (Totem lettura P1)", rawCodaStd);

    std::printf("\nRapporti (obiettivo: chiamata entro 1.5 volte il limite nudo):\n");
    rapporto("standard: ChiamaProssimo / limite", mediana(tStd), rawStd);
    rapporto("singola: chiamata / somma nuda", mediana(tSing), rawSing);
    rapporto("singola: chiamata / somma nuda senza fdatasync", mediana(tSing), rawSingNoSync);
    rapporto("singola: chiamata / le 5 nude di seguito", mediana(tSing), mediana(tSingRaw));
    rapporto("standard: ChiamaProssimo / nudo riaprendo", mediana(tStd), mediana(tStdRiap));
    rapporto("singola: chiamata / nuda riaprendo", mediana(tSing), mediana(tSingRiap));
    // The button also appends the call to the history file, with its own fdatasync: one more
    // small durable write, priced like the bare counter draw.
    rapporto("Form1 standard / limite", mediana(tPremiStd), rawStd);
    rapporto("Form1 standard / (limite + una fdatasync)", mediana(tPremiStd),
             rawStd + mediana(tPrel));
    rapporto("Form1 singola / somma nuda", mediana(tPremiSing), rawSing);
    rapporto("Form1 singola / (somma nuda + una fdatasync)", mediana(tPremiSing),
             rawSing + mediana(tPrel));
    rapporto("AggiornaCodaSingola (coda cambiata) / limite", mediana(tCodaS), rawCodaS);
    rapporto("AggiornaCodaSingola (coda invariata) / limite", mediana(tCodaSUguale),
             rawCodaSUguale);
    rapporto("AggiornaCodaStandard / limite", mediana(tCodaStd), rawCodaStd);
    // From a fresh archive (0 in both): the warm-up did one standard call by each of the three
    // ways and two draws; each round does four standard calls and eight draws per iteration
    // (the single call bare, reopened and by the client, the console's press, the two bare
    // draws and the two untimed advances before a refresh).
    const qint64 n = qint64(giri) * iterazioni;
    const bool buono = verifica(banco, 3 + 4 * n, 2 + 8 * n, int(1 + n));
    if (!buono)
        std::printf(
            "ATTENZIONE: il lavoro misurato non corrisponde a quello atteso: le cifre sopra "
            "non valgono.\n");
    std::fflush(stdout);
    // The consoles close before the temporary archive goes.
    return buono ? 0 : 1;
}
