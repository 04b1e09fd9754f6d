// Cost of the client's archive work against the same work done directly:
//  - the display-record round trip (LeggiNumeroDisplay + AggiornaDisplay, each opening the
//    database afresh) against the same read and update with the sqlite3 C API on one open
//    connection with the same durability (rollback journal, synchronous FULL);
//  - the counter draw contatore::preleva against a bare open + flock + read + pwrite +
//    ftruncate + close of the same file (and the same with fdatasync, which the draw does).
// Prints medians and ratios; it never fails on a time.
//
// Usage: bench_archivio [iterations per round, default 100] [rounds, default 5]

#include "statistiche.h"

#include "app/globali.h"
#include "archive/contatore.h"
#include "console/display.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using qvr::bench::mediana;

using Orologio = std::chrono::steady_clock;

// Runs `passo` n times, appending each duration in microseconds.
void misura(std::vector<double>& tempi, int n, const std::function<void()>& passo) {
    for (int i = 0; i < n; ++i) {
        const auto t0 = Orologio::now();
        passo();
        tempi.push_back(std::chrono::duration<double, std::micro>(Orologio::now() - t0).count());
    }
}

[[noreturn]] void muori(const std::string& cosa) {
    std::fprintf(stderr, "bench_archivio: %s\n", cosa.c_str());
    std::exit(1);
}

void controlla(sqlite3* db, int rc, const char* cosa) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        muori(std::string(cosa) + ": " + sqlite3_errmsg(db));
}

void eseguiSql(sqlite3* db, const char* sql) {
    char* errore = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &errore) != SQLITE_OK)
        muori(std::string(sql) + ": " + (errore ? errore : "?"));
}

// The same read and update as the display record, on one connection kept open.
class DisplayDiretto {
public:
    explicit DisplayDiretto(const std::string& file) {
        controlla(m_db, sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr),
                  "apertura");
        sqlite3_busy_timeout(m_db, 5000);
        eseguiSql(m_db, "PRAGMA journal_mode=DELETE");
        eseguiSql(m_db, "PRAGMA synchronous=FULL");
        controlla(m_db,
                  sqlite3_prepare_v2(m_db, "SELECT NumeroA1 FROM NumeriCode3 LIMIT 1", -1, &m_leggi,
                                     nullptr),
                  "prepare lettura");
        controlla(m_db,
                  sqlite3_prepare_v2(m_db, "SELECT rowid FROM NumeriCode3 LIMIT 1", -1, &m_rowid,
                                     nullptr),
                  "prepare rowid");
        controlla(m_db,
                  sqlite3_prepare_v2(m_db,
                                     "UPDATE NumeriCode3 SET NumeroA1=?,StatoN1=?,F1=? "
                                     "WHERE rowid=?",
                                     -1, &m_scrivi, nullptr),
                  "prepare scrittura");
    }
    ~DisplayDiretto() {
        sqlite3_finalize(m_leggi);
        sqlite3_finalize(m_rowid);
        sqlite3_finalize(m_scrivi);
        sqlite3_close(m_db);
    }

    std::string leggi() {
        std::string testo;
        if (sqlite3_step(m_leggi) == SQLITE_ROW)
            testo = reinterpret_cast<const char*>(sqlite3_column_text(m_leggi, 0));
        sqlite3_reset(m_leggi);
        return testo;
    }

    void scrivi(int numero) {
        eseguiSql(m_db, "BEGIN IMMEDIATE");
        sqlite3_int64 rowid = 0;
        if (sqlite3_step(m_rowid) == SQLITE_ROW)
            rowid = sqlite3_column_int64(m_rowid, 0);
        sqlite3_reset(m_rowid);
        sqlite3_bind_int(m_scrivi, 1, numero);
        sqlite3_bind_int(m_scrivi, 2, 3);
        sqlite3_bind_text(m_scrivi, 3, "F", 1, SQLITE_STATIC);
        sqlite3_bind_int64(m_scrivi, 4, rowid);
        controlla(m_db, sqlite3_step(m_scrivi), "update");
        sqlite3_reset(m_scrivi);
        eseguiSql(m_db, "COMMIT");
    }

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_leggi = nullptr;
    sqlite3_stmt* m_rowid = nullptr;
    sqlite3_stmt* m_scrivi = nullptr;
};

// A bare draw: lock, read the first item, overwrite in place, cut the length, close.
int prelievoDiretto(const std::string& file, bool sincronizza) {
    const int fd = ::open(file.c_str(), O_RDWR);
    if (fd < 0)
        muori("open " + file);
    if (::flock(fd, LOCK_EX) != 0)
        muori("flock");
    char buf[64] = {};
    const ssize_t letti = ::pread(fd, buf, sizeof buf - 1, 0);
    if (letti < 0)
        muori("read");
    const int n = std::atoi(buf) + 1;
    const std::string riga = std::to_string(n) + "\r\n";
    if (::pwrite(fd, riga.data(), riga.size(), 0) != ssize_t(riga.size()))
        muori("pwrite");
    if (::ftruncate(fd, off_t(riga.size())) != 0)
        muori("ftruncate");
    if (sincronizza && ::fdatasync(fd) != 0)
        muori("fdatasync");
    ::close(fd);
    return n;
}

void stampa(const char* nome, double client, const char* nomeDiretto, double diretto) {
    std::printf("%-44s %10.1f us\n", nome, client);
    std::printf("%-44s %10.1f us\n", nomeDiretto, diretto);
    std::printf("%-44s %10.2f\n\n", "  rapporto", diretto > 0 ? client / diretto : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int iterazioni = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int giri = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QTemporaryDir cartella;
    if (!cartella.isValid())
        muori("cartella temporanea");
    const std::string qvrb = (cartella.path() + QStringLiteral("/QVRB.mdb")).toStdString();
    const std::string contatoreFile =
        (cartella.path() + QStringLiteral("/Nr4All.txt")).toStdString();
    {
        sqlite3* db = nullptr;
        controlla(db, sqlite3_open(qvrb.c_str(), &db), "creazione");
        eseguiSql(db, "CREATE TABLE NumeriCode3 (NumeroA1 NUMERIC, StatoN1 INTEGER, F1 TEXT);"
                      "INSERT INTO NumeriCode3 VALUES (0, 1, 'F');");
        sqlite3_close(db);
        FILE* f = std::fopen(contatoreFile.c_str(), "wb");
        if (!f)
            muori("creazione Nr4All.txt");
        std::fputs("0\r\n", f);
        std::fclose(f);
    }
    qvr::PercorsoArchivi = cartella.path();
    qvr::NumeroPostazione = 3;
    const QString contatoreQ = QString::fromStdString(contatoreFile);

    std::vector<double> tClient, tDiretto, tPreleva, tNudo, tNudoSync;
    DisplayDiretto diretto(qvrb);
    // One warm-up of each, then rounds that alternate the two ways.
    qvr::AggiornaDisplay(qint32(qvr::LeggiNumeroDisplay().toInt() + 1), qint16(3), "F");
    diretto.scrivi(std::atoi(diretto.leggi().c_str()) + 1);
    qvr::contatore::preleva(contatoreQ, false);
    for (int g = 0; g < giri; ++g) {
        misura(tClient, iterazioni, [] {
            const QString n = qvr::LeggiNumeroDisplay();
            qvr::AggiornaDisplay(qint32(n.toInt() + 1), qint16(3), QStringLiteral("F"));
        });
        misura(tDiretto, iterazioni,
               [&] { diretto.scrivi(std::atoi(diretto.leggi().c_str()) + 1); });
        misura(tPreleva, iterazioni, [&] { qvr::contatore::preleva(contatoreQ, false); });
        misura(tNudo, iterazioni, [&] { prelievoDiretto(contatoreFile, false); });
        misura(tNudoSync, iterazioni, [&] { prelievoDiretto(contatoreFile, true); });
    }

    std::printf("bench_archivio: %d giri x %d iterazioni, mediane\n\n", giri, iterazioni);
    stampa("display: LeggiNumeroDisplay + AggiornaDisplay", mediana(tClient),
           "display: sqlite3 diretto, connessione aperta", mediana(tDiretto));
    const double preleva = mediana(tPreleva);
    stampa("contatore: contatore::preleva", preleva, "contatore: open+flock+read+pwrite+ftruncate",
           mediana(tNudo));
    stampa("contatore: contatore::preleva", preleva, "contatore: lo stesso + fdatasync",
           mediana(tNudoSync));
    std::printf("numero finale del display: %s, del contatore: %d\n",
                qPrintable(qvr::LeggiNumeroDisplay()), qvr::contatore::leggiLong(contatoreQ));
    return 0;
}
