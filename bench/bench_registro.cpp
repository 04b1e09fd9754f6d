// The office's journal: how long the figures and the PDF take over a year of an office, how
// soon the recorder writes what a kiosk or a station committed, and what an idle recorder costs.
//
//   bench_registro [--giorni 250] [--biglietti 2000] [--ripetizioni 3] [--campioni 200]
//                  [--inattivo 30] [--scrivi CARTELLA] [--archivio URI]
//
// --archivio runs it all on a server archive made anew in that database: the year is written
// into the office's journal there (the schema registro), the figures read from it, and the
// recorder watches that archive; its idle cost then counts its server sessions too.
//
// --scrivi only writes a simulated journal of --giorni days into CARTELLA/Registro.mdb (for the
// demo and to look at the report) and ends.
#include "app/globali.h"
#include "archive/biglietti.h"
#include "archive/crea_archivio.h"
#include "archive/lettore.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "console/display.h"
#include "registro/deposito.h"
#include "registro/rapporto_pdf.h"
#include "registro/registro.h"
#include "registro/statistiche.h"
#include "statistiche.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>

#include <cstdio>
#include <ctime>
#include <deque>
#include <unistd.h>

using namespace qvr;
using namespace qvr::registro;

namespace {

// One simulated day: ten stations, 1..6 in standard numbering (each its own sequence), 7..10 in
// single numbering (the shared P11); arrivals from 8:00 to 17:00 with a peak in the morning;
// each station calls the next of its queue when free; a few recalls, a few tickets never
// called, numbers going round after 99.
std::vector<Evento> giornata(QDate data, int biglietti, QRandomGenerator& caso) {
    const QTimeZone fuso(3600);
    const qint64 inizio = QDateTime(data, QTime(8, 0), fuso).toMSecsSinceEpoch();
    struct Arrivo {
        qint64 ora;
        int sequenza;
    };
    std::vector<Arrivo> arrivi;
    for (int i = 0; i < biglietti; ++i) {
        // Two humps: most in the morning.
        const double x = caso.generateDouble() < 0.5 ? 0.4 * caso.generateDouble()
                                                     : 0.55 * caso.generateDouble() + 0.4;
        const int s = caso.bounded(10) < 6 ? 1 + caso.bounded(6) : 11;
        arrivi.push_back({inizio + qint64(x * 9 * 3600000.0), s});
    }
    std::sort(arrivi.begin(), arrivi.end(), [](auto& a, auto& b) { return a.ora < b.ora; });
    std::vector<Evento> v;
    auto ev = [&](Tipo t, qint64 ms) {
        Evento e;
        e.tipo = t;
        e.oraUtcMs = ms;
        e.scostamento = 3600;
        e.registratore = QStringLiteral("banco:1");
        return e;
    };
    std::array<qint32, 12> numero{};
    std::array<std::deque<std::pair<qint64, qint32>>, 12> code;
    for (const Arrivo& a : arrivi) {
        numero[a.sequenza] = numero[a.sequenza] == 99 ? 1 : numero[a.sequenza] + 1;
        Evento e = ev(Tipo::Biglietto, a.ora);
        e.sequenza = a.sequenza;
        e.numero = numero[a.sequenza];
        v.push_back(e);
        code[a.sequenza].push_back({a.ora, e.numero});
    }
    // The stations serve their queues.
    for (int p = 1; p <= 10; ++p) {
        const int s = p <= 6 ? p : 11;
        qint64 libera = inizio;
        // The four single-numbering stations share the queue: each takes every fourth ticket.
        int indice = 0;
        for (const auto& [arrivo, n] : code[s]) {
            if (s == 11 && (indice++ % 4) != p - 7)
                continue;
            if (caso.bounded(100) < 2)
                continue; // never called
            const qint64 chiamata = std::max(libera, arrivo) + 1000 + caso.bounded(10000);
            if (chiamata > inizio + 10 * 3600000LL)
                break; // the office closes: the rest are never called
            Evento c = ev(Tipo::Chiamata, chiamata);
            c.postazione = p;
            c.numero = n;
            c.singola = s == 11;
            c.sequenza = s;
            v.push_back(c);
            qint64 fine = chiamata + 40000 + caso.bounded(150000);
            if (caso.bounded(100) < 3) {
                Evento r = c;
                r.oraUtcMs = chiamata + 45000;
                r.richiamo = true;
                v.push_back(r);
                fine += 45000;
            }
            libera = fine;
        }
        Evento x = ev(Tipo::Assente, std::max(libera, inizio + 9 * 3600000LL));
        x.postazione = p;
        v.push_back(x);
    }
    std::stable_sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.oraUtcMs < b.oraUtcMs; });
    Evento z = ev(Tipo::Azzeramento, inizio - 2 * 3600000LL);
    for (int s = 1; s <= 11; ++s) {
        z.sequenza = s;
        v.insert(v.begin(), z);
    }
    return v;
}

void scriviGiornale(Deposito& r, int giorni, int biglietti) {
    r.apriScrittura();
    QRandomGenerator caso(20261209);
    QDate d(2026, 1, 5);
    std::vector<Evento> avvio{};
    for (int i = 0; i < giorni; ++i) {
        while (d.dayOfWeek() > 5)
            d = d.addDays(1);
        std::vector<Evento> v = giornata(d, biglietti, caso);
        if (i == 0) {
            Evento a = v.front();
            a.tipo = Tipo::Avvio;
            a.dettaglio = QStringLiteral("qvr-server");
            v.insert(v.begin(), a);
        }
        if (i == giorni / 2) {
            // A quarter of an hour without the archive, once in the year.
            Evento b = v[v.size() / 2];
            b.tipo = Tipo::InizioBuco;
            b.numero = 3044;
            b.dettaglio = QStringLiteral("Errore 3044: Percorso non valido (archivio)");
            Evento f = b;
            f.tipo = Tipo::FineBuco;
            f.oraUtcMs += 15 * 60000;
            f.dettaglio.clear();
            v.insert(v.begin() + qsizetype(v.size() / 2), b);
            auto dopo = std::find_if(v.begin(), v.end(),
                                     [&](const Evento& e) { return e.oraUtcMs > f.oraUtcMs; });
            v.insert(dopo, f);
        }
        r.aggiungi(v);
        d = d.addDays(1);
    }
}

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// User and system CPU ticks and resident kilobytes of a process.
std::pair<long, long> consumo(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    long cpu = 0, rss = 0;
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray t = stat.readAll();
        const QList<QByteArray> campi = t.mid(t.lastIndexOf(')') + 2).split(' ');
        cpu = campi.value(11).toLong() + campi.value(12).toLong();
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& riga : status.readAll().split('\n'))
            if (riga.startsWith("VmRSS:"))
                rss = riga.mid(6).trimmed().split(' ').value(0).toLong();
    return {cpu, rss};
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser p;
    const QCommandLineOption giorni(QStringLiteral("giorni"), QString(), QStringLiteral("n"),
                                    QStringLiteral("250"));
    const QCommandLineOption biglietti(QStringLiteral("biglietti"), QString(), QStringLiteral("n"),
                                       QStringLiteral("2000"));
    const QCommandLineOption ripetizioni(QStringLiteral("ripetizioni"), QString(),
                                         QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption campioni(QStringLiteral("campioni"), QString(), QStringLiteral("n"),
                                      QStringLiteral("200"));
    const QCommandLineOption inattivo(QStringLiteral("inattivo"), QString(), QStringLiteral("s"),
                                      QStringLiteral("30"));
    const QCommandLineOption scrivi(QStringLiteral("scrivi"), QString(),
                                    QStringLiteral("cartella"));
    const QCommandLineOption archivioOpz(QStringLiteral("archivio"), QString(),
                                         QStringLiteral("uri"));
    p.addOptions({giorni, biglietti, ripetizioni, campioni, inattivo, scrivi, archivioOpz});
    p.process(app);
    const int nGiorni = p.value(giorni).toInt();
    const int nBiglietti = p.value(biglietti).toInt();

    if (p.isSet(scrivi)) {
        QDir().mkpath(p.value(scrivi));
        Registro g(QDir(p.value(scrivi)).filePath(NomeFile));
        scriviGiornale(g, nGiorni, nBiglietti);
        return 0;
    }

    QTemporaryDir dir;
    const bool suServer = eServer(p.value(archivioOpz));
    const QString archivio =
        suServer ? p.value(archivioOpz) : dir.filePath(QStringLiteral("archivio"));
    OpzioniArchivio o;
    o.totem = true;
    if (suServer)
        server::creaDatabase(archivio);
    creaArchivio(archivio, o, true);
    const QString file = dir.filePath(NomeFile);
    std::unique_ptr<Deposito> anno;
    if (suServer) {
        anno = deposito(archivio);
        anno->apriScrittura();
        if (anno->ultimo()) {
            std::printf("Il registro di %s non è vuoto: indicare un database nuovo\n",
                        qPrintable(anno->nome()));
            return 1;
        }
    } else {
        anno = std::make_unique<Registro>(file);
    }
    QElapsedTimer t;
    t.start();
    scriviGiornale(*anno, nGiorni, nBiglietti);
    anno->chiudi();
    std::printf("Registro di %d giorni x %d biglietti scritto in %.0f ms (%s)\n", nGiorni,
                nBiglietti, ms(t),
                suServer ? qPrintable(anno->nome())
                         : qPrintable(QStringLiteral("%1 MB").arg(
                               double(QFileInfo(file).size()) / 1e6, 0, 'f', 1)));

    // Wall time, and the process's own CPU time (what the figures cost on a machine that is not
    // busy with other work).
    std::vector<double> tempiStat, tempiPdf, cpuStat, cpuPdf;
    auto cpuMs = [] { return 1000.0 * double(std::clock()) / CLOCKS_PER_SEC; };
    statistiche::Risultato r;
    for (int i = 0; i < p.value(ripetizioni).toInt(); ++i) {
        double c0 = cpuMs();
        t.restart();
        r = statistiche::calcola(*anno, QDate(1900, 1, 1), QDate(9999, 12, 31));
        tempiStat.push_back(ms(t));
        cpuStat.push_back(cpuMs() - c0);
        c0 = cpuMs();
        t.restart();
        const QByteArray documento = statistiche::pdf(r, dir.path());
        tempiPdf.push_back(ms(t));
        cpuPdf.push_back(cpuMs() - c0);
        if (i == 0)
            std::printf("Rapporto: %d giorni, %d biglietti, %d chiamate, PDF di %lld kB\n",
                        int(r.giorni.size()), r.totale.biglietti, r.totale.chiamate,
                        documento.size() / 1024);
    }
    std::printf("Statistiche di un anno: mediana %.0f ms, massimo %.0f ms, CPU mediana %.0f ms "
                "(obiettivo <= 2000)\n",
                bench::mediana(tempiStat), *std::max_element(tempiStat.begin(), tempiStat.end()),
                bench::mediana(cpuStat));
    std::printf("PDF di un anno: mediana %.0f ms, massimo %.0f ms, CPU mediana %.0f ms "
                "(obiettivo <= 3000)\n",
                bench::mediana(tempiPdf), *std::max_element(tempiPdf.begin(), tempiPdf.end()),
                bench::mediana(cpuPdf));

    // The recorder: from a commit at the kiosk or a station to its row in the journal.
    QProcess server;
    server.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/../qvr-server"));
    server.setArguments({QStringLiteral("--archivio"), archivio});
    server.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    server.setStandardErrorFile(dir.filePath(QStringLiteral("server.log")));
    server.start();
    if (!server.waitForStarted(5000)) {
        std::printf("qvr-server non parte\n");
        return 1;
    }
    const QString giornale = QDir(archivio).filePath(NomeFile);
    const std::unique_ptr<Deposito> registro = deposito(archivio);
    auto righe = [&]() -> qint64 {
        try {
            if (!registro->aperto())
                registro->apriLettura();
            const auto u = registro->ultimo();
            return u ? u->seq : 0;
        } catch (const ErroreQvr&) {
            registro->chiudi();
            return 0;
        }
    };
    // The recorder's start: the journal's last event is its own Avvio.
    QElapsedTimer attesa;
    attesa.start();
    auto avviato = [&] {
        try {
            if (!registro->aperto())
                registro->apriLettura();
            const auto u = registro->ultimo();
            return u && u->tipo == Tipo::Avvio &&
                   u->registratore.endsWith(QStringLiteral(":%1").arg(server.processId()));
        } catch (const ErroreQvr&) {
            registro->chiudi();
            return false;
        }
    };
    while (!avviato() && attesa.elapsed() < 10000)
        QThread::msleep(10);
    PercorsoArchivi = archivio;
    NumeroPostazione = 1;
    std::vector<double> latenze;
    QRandomGenerator caso(7);
    qint64 ultimaRiga = righe();
    ImprontaFile impronta = suServer ? ImprontaFile{} : LettoreArchivio::improntaFile(giornale);
    for (int i = 0; i < p.value(campioni).toInt(); ++i) {
        QThread::msleep(50 + caso.bounded(150));
        if (i % 2 == 0)
            biglietti::emetti(archivio, 1 + caso.bounded(10));
        else
            AggiornaDisplay(qint32(i), 3, QStringLiteral("F"));
        t.restart();
        // Watch the journal's change mark (a read of its header; on a server its last row at
        // once), then count its rows.
        while (t.elapsed() < 5000) {
            const ImprontaFile adesso = suServer ? ImprontaFile{quint32(t.elapsed()), 0, 0}
                                                 : LettoreArchivio::improntaFile(giornale);
            if (adesso != impronta) {
                impronta = adesso;
                const qint64 n = righe();
                if (n > ultimaRiga) {
                    ultimaRiga = n;
                    break;
                }
            }
            QThread::usleep(suServer ? 2000 : 500);
        }
        latenze.push_back(ms(t));
    }
    std::printf("Latenza dal commit alla riga del registro (%zu campioni): mediana %.0f ms, "
                "p99 %.0f ms, massimo %.0f ms (obiettivo p99 <= 500)\n",
                latenze.size(), bench::mediana(latenze), bench::percentile(latenze, 0.99),
                *std::max_element(latenze.begin(), latenze.end()));

    // Idle: nothing happens in the archive.
    registro->chiudi();
    server::chiudiConnessioni();
    const int secondi = p.value(inattivo).toInt();
    // On a server on this machine, the recorder's sessions work for it too.
    std::vector<qint64> sessioni;
    if (suServer) {
        server::Connessione c(archivio);
        QSqlQuery q(c.db());
        if (!c.esegui(q, QStringLiteral("SELECT pid FROM pg_stat_activity WHERE datname = "
                                        "current_database() AND pid <> pg_backend_pid()")))
            while (q.next())
                sessioni.push_back(q.value(0).toLongLong());
    }
    server::chiudiConnessioni();
    auto cpuSessioni = [&] {
        long n = 0;
        for (qint64 pid : sessioni)
            n += consumo(pid).first;
        return n;
    };
    const auto [cpu0, rss0] = consumo(server.processId());
    const long s0 = cpuSessioni();
    QThread::sleep(secondi);
    const auto [cpu1, rss1] = consumo(server.processId());
    const long s1 = cpuSessioni();
    const double tick = double(sysconf(_SC_CLK_TCK));
    std::printf("Registratore inattivo per %d s: CPU %.2f%% di un core, memoria residente %.1f MB "
                "(obiettivo <= 0,5%%, < 60 MB)\n",
                secondi, 100.0 * double(cpu1 - cpu0) / tick / secondi, double(rss1) / 1024.0);
    if (suServer)
        std::printf("  le sue %zu sessioni sul server: CPU %.2f%% di un core\n", sessioni.size(),
                    100.0 * double(s1 - s0) / tick / secondi);
    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
