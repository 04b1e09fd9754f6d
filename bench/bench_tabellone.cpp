// The board: cost of one poll for each way of finding changes in the archive, time from a
// station's commit to the board having painted the call, time to synthesise an announcement,
// and an idle board's CPU and peak memory. Prints figures; never fails on a time.
//   bench_tabellone [--inattivo SECONDI]
//   bench_tabellone --carico SECONDI   ten stations with and without three boards
#include "archive/crea_archivio.h"
#include "archive/lettore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "statistiche.h"
#include "supporto.h"
#include "tabellone/finestra.h"
#include "tabellone/voce.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <unistd.h>

using namespace qvr;
using Orologio = std::chrono::steady_clock;

namespace {

double microsecondi(Orologio::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

template <typename F> void misura(const char* nome, int volte, F poll) {
    std::vector<double> t;
    for (int i = 0; i < volte; ++i) {
        const auto a = Orologio::now();
        poll();
        t.push_back(microsecondi(Orologio::now() - a));
    }
    const double m = bench::mediana(t);
    std::printf("%-44s mediana %8.1f us  p99 %8.1f us  (a 100 ms: %.3f%% di un core)\n", nome, m,
                bench::percentile(t, 0.99), m / 100000.0 * 100.0);
}

void rilevamento(const QString& cartella) {
    std::printf("== Rilevamento delle modifiche: costo di un controllo (3 database)\n");
    LettoreArchivio l(cartella);
    const QStringList file = {nomi::FileQVR, nomi::FileQVRA, nomi::FileQVRB};
    quint64 somma = 0;
    misura("contatore dell'intestazione (offset 24)", 5000, [&] {
        for (const QString& f : file)
            somma += l.impronta(f).contatore;
    });
    std::vector<sqlite3*> db;
    for (const QString& f : file) {
        sqlite3* h = nullptr;
        sqlite3_open_v2(QFile::encodeName(fileArchivio(cartella, f)).constData(), &h,
                        SQLITE_OPEN_READONLY, nullptr);
        db.push_back(h);
    }
    std::vector<sqlite3_stmt*> pronte;
    for (sqlite3* h : db) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(h, "PRAGMA data_version", -1, &s, nullptr);
        pronte.push_back(s);
    }
    misura("PRAGMA data_version, connessione tenuta", 5000, [&] {
        for (sqlite3_stmt* s : pronte) {
            if (sqlite3_step(s) == SQLITE_ROW)
                somma += static_cast<quint64>(sqlite3_column_int64(s, 0));
            sqlite3_reset(s);
        }
    });
    for (sqlite3_stmt* s : pronte)
        sqlite3_finalize(s);
    misura("rilettura delle tabelle (apre, legge, chiude)", 300, [&] {
        somma += static_cast<quint64>(l.leggiDisplay()[0].numero);
        somma += static_cast<quint64>(l.leggiSingoli()[0].numero);
        somma += l.leggiAssegnazioni(true)[0].singola ? 1 : 0;
    });
    // Does each way see another process's commit? (a write, then one poll of each)
    const quint32 prima = l.impronta(nomi::FileQVRB).contatore;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db[2], "PRAGMA data_version", -1, &s, nullptr);
    sqlite3_step(s);
    const auto dvPrima = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    QProcess::execute(QStringLiteral("sqlite3"),
                      {fileArchivio(cartella, nomi::FileQVRB),
                       QStringLiteral("update NumeriCode1 set NumeroA1=NumeroA1+1")});
    sqlite3_prepare_v2(db[2], "PRAGMA data_version", -1, &s, nullptr);
    sqlite3_step(s);
    const auto dvDopo = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    std::printf("scrittura di un altro processo vista: contatore %s, data_version %s\n",
                l.impronta(nomi::FileQVRB).contatore != prima ? "si'" : "no",
                dvDopo != dvPrima ? "si'" : "no");
    for (sqlite3* h : db)
        sqlite3_close(h);
    if (somma == 42)
        std::printf(" \n");
}

void latenza(const QString& cartella) {
    std::printf("== Dal commit di una postazione al tabellone dipinto\n");
    tabellone::Impostazioni imp;
    imp.archivio = cartella;
    imp.voce = false;
    tabellone::FinestraTabellone f(imp);
    f.resize(1920, 1080);
    f.show();
    f.avvia();
    std::mutex mx;
    std::map<QString, Orologio::time_point> commit;
    std::vector<double> ritardi;
    QObject::connect(f.etichettaNumero(), &tabellone::EtichettaNumero::dipinto,
                     [&](const QString& testo) {
                         const auto ora = Orologio::now();
                         std::lock_guard g(mx);
                         auto it = commit.find(testo);
                         if (it != commit.end()) {
                             ritardi.push_back(microsecondi(ora - it->second) / 1000.0);
                             commit.erase(it);
                         }
                     });
    constexpr int Chiamate = 80;
    const int standard[] = {1, 3, 4, 5, 6}; // station 2 is in single numbering
    std::atomic<bool> finito{false};
    std::thread stazione([&] {
        QThread::msleep(500);
        for (int i = 1; i <= Chiamate; ++i) {
            // Pauses not in step with the poll.
            QThread::msleep(static_cast<unsigned long>(180 + (i * 37) % 140));
            // Timed from before the write: the figure includes the station's own commit.
            {
                std::lock_guard g(mx);
                commit[QString::number(1000 + i)] = Orologio::now();
            }
            test::scriviDisplay(cartella, standard[i % 5], 1000 + i, nomi::StatoInCorso);
        }
        finito = true;
    });
    while (!finito)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QElapsedTimer coda;
    coda.start();
    while (coda.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    stazione.join();
    std::printf("chiamate %d, dipinte %zu: mediana %.1f ms, p99 %.1f ms, massimo %.1f ms\n",
                Chiamate, ritardi.size(), bench::mediana(ritardi), bench::percentile(ritardi, 0.99),
                ritardi.empty() ? 0.0 : *std::max_element(ritardi.begin(), ritardi.end()));

    std::printf("== Sintesi di un annuncio (suono + voce), fatta prima che parta il suono\n");
    tabellone::Voce::prepara();
    std::vector<double> sintesi;
    for (int i = 1; i <= 10; ++i) {
        const auto a = Orologio::now();
        const QByteArray pcm = tabellone::Voce::annuncio(1 + i % 10, 40 + i * 7);
        sintesi.push_back(microsecondi(Orologio::now() - a) / 1000.0);
        if (pcm.isEmpty())
            std::printf("voce non disponibile\n");
    }
    std::printf("sintesi: mediana %.1f ms, massimo %.1f ms\n", bench::mediana(sintesi),
                *std::max_element(sintesi.begin(), sintesi.end()));
}

qint64 tick(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray t = f.readAll();
    const QList<QByteArray> p = t.mid(t.lastIndexOf(')') + 2).split(' ');
    return p.value(11).toLongLong() + p.value(12).toLongLong(); // utime + stime
}

QByteArray voceStatus(qint64 pid, const QByteArray& chiave) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& r : f.readAll().split('\n'))
        if (r.startsWith(chiave))
            return r.mid(chiave.size()).trimmed();
    return {};
}

void inattivo(const QString& cartella, int secondi) {
    std::printf("== Tabellone inattivo (processo qvr-tabellone, piattaforma offscreen)\n");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), cartella + QStringLiteral("-config"));
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../qvr-tabellone"),
            {QStringLiteral("--finestra"), QStringLiteral("--archivio"), cartella});
    if (!p.waitForStarted()) {
        std::printf("qvr-tabellone non avviato\n");
        return;
    }
    QThread::sleep(3);
    const qint64 a = tick(p.processId());
    QThread::sleep(static_cast<unsigned long>(secondi));
    const qint64 b = tick(p.processId());
    const double cpu = double(b - a) / double(sysconf(_SC_CLK_TCK)) / secondi * 100.0;
    std::printf("CPU in %d s: %.2f%% di un core; memoria di picco (VmHWM) %s\n", secondi, cpu,
                voceStatus(p.processId(), "VmHWM:").constData());
    p.terminate();
    p.waitForFinished(5000);
}

// Ten stations calling every 500 ms for `secondi`, first alone, then with three boards: the
// stations' call time in both runs, and whether every board showed every call, in order.
void carico(int secondi, int boards) {
    QTemporaryDir dir;
    const QString cartella = dir.filePath(QStringLiteral("archivio"));
    creaArchivio(cartella);
    const QString bin = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    std::vector<std::unique_ptr<QProcess>> tabelloni;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    for (int t = 0; t < boards; ++t) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(bin + QStringLiteral("/qvr-tabellone"),
                 {QStringLiteral("--finestra"), QStringLiteral("--archivio"), cartella,
                  QStringLiteral("--registro"), dir.filePath(QStringLiteral("r%1").arg(t))});
        p->waitForStarted();
        tabelloni.push_back(std::move(p));
    }
    if (boards)
        QThread::sleep(2);
    const int chiamate = secondi * 2;
    std::vector<std::unique_ptr<QProcess>> stazioni;
    for (int s = 1; s <= 10; ++s) {
        auto p = std::make_unique<QProcess>();
        p->start(bin + QStringLiteral("/tests/tabellone_stazione"),
                 {cartella, QString::number(s), QString::number(chiamate), QStringLiteral("500")});
        stazioni.push_back(std::move(p));
    }
    std::vector<double> tempi;
    int errori = 0;
    for (auto& p : stazioni) {
        p->waitForFinished(secondi * 3000 + 30000);
        errori += p->exitCode() != 0;
        for (const QByteArray& r : p->readAllStandardOutput().split('\n'))
            if (r.contains(' '))
                tempi.push_back(r.split(' ')[1].toDouble() / 1000.0);
    }
    QThread::sleep(1);
    int complete = 0;
    for (int t = 0; t < boards; ++t) {
        tabelloni[t]->terminate();
        tabelloni[t]->waitForFinished(5000);
        QFile f(dir.filePath(QStringLiteral("r%1").arg(t)));
        f.open(QIODevice::ReadOnly);
        std::map<int, std::vector<int>> visti;
        for (const QByteArray& r : f.readAll().split('\n'))
            if (r.contains(' '))
                visti[r.split(' ')[0].toInt()].push_back(r.split(' ')[1].toInt());
        bool tutto = true;
        for (int s = 1; s <= 10; ++s) {
            std::vector<int> attesi(chiamate);
            std::iota(attesi.begin(), attesi.end(), 1);
            tutto = tutto && visti[s] == attesi;
        }
        complete += tutto;
    }
    double somma = 0;
    for (double x : tempi)
        somma += x;
    std::printf("%d tabelloni: %zu chiamate, errori delle postazioni %d, tempo di chiamata media "
                "%.2f ms mediana %.2f ms p99 %.2f ms; tabelloni con ogni chiamata in ordine: %d "
                "su %d\n",
                boards, tempi.size(), errori, tempi.empty() ? 0.0 : somma / tempi.size(),
                bench::mediana(tempi), bench::percentile(tempi, 0.99), complete, boards);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int secondi = 20;
    const QStringList a = app.arguments();
    const int i = a.indexOf(QStringLiteral("--inattivo"));
    if (i > 0 && i + 1 < a.size())
        secondi = std::max(1, a[i + 1].toInt());
    QTemporaryDir dir;
    const QString cartella = dir.filePath(QStringLiteral("archivio"));
    OpzioniArchivio o;
    o.modi[1] = QStringLiteral("SG");
    creaArchivio(cartella, o);
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    const int c = a.indexOf(QStringLiteral("--carico"));
    if (c > 0 && c + 1 < a.size()) {
        std::printf("== Dieci postazioni, una chiamata ogni 500 ms per %s s\n",
                    qPrintable(a[c + 1]));
        carico(a[c + 1].toInt(), 0);
        carico(a[c + 1].toInt(), 3);
        return 0;
    }
    rilevamento(cartella);
    latenza(cartella);
    inattivo(cartella, secondi);
    return 0;
}
