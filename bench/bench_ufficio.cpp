// The manager's window: how soon it paints after the process starts, its memory, what it costs
// while it shows the Oggi page and nothing happens, how soon the Oggi page shows a station's
// change, and how long the figures of a whole journal take.
//
//   bench_ufficio [--avvii 7] [--inattivo 30] [--campioni 20] [--archivio URI|CARTELLA]
//                 [--pg-dati CARTELLA] [--figure CARTELLA]
//
// --archivio: the archive measured, made anew there (a fresh archive in a temporary folder by
// default). --pg-dati: the data folder of the server's cluster, whose processes' CPU is added
// up over the idle span. --figure: an archive folder whose journal holds the year
// (qvr-archivio crea CARTELLA, then bench_registro --scrivi CARTELLA), computed as the
// "Calcola" button of the Statistiche page does it over the journal's whole span.
#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "statistiche.h"
#include "ufficio/finestra_ufficio.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace qvr;

namespace {

qint64 oraNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// CPU time of this process in ms.
double cpuMs() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
           (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
}

// CPU time in ms of the postmaster of cluster `dati` and its children, from /proc.
double cpuCluster(const QString& dati) {
    QFile pid(dati + QStringLiteral("/postmaster.pid"));
    if (dati.isEmpty() || !pid.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray principale = pid.readLine().trimmed();
    QFile figli(QStringLiteral("/proc/%1/task/%1/children").arg(QString::fromLatin1(principale)));
    figli.open(QIODevice::ReadOnly);
    double ms = 0;
    for (const QByteArray& p : (principale + ' ' + figli.readAll()).split(' ')) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(p.trimmed())));
        if (p.trimmed().isEmpty() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray riga = stat.readAll();
        const QList<QByteArray> campi = riga.mid(riga.lastIndexOf(')') + 2).split(' ');
        ms += (campi.value(11).toDouble() + campi.value(12).toDouble()) * 1000.0 /
              double(sysconf(_SC_CLK_TCK));
    }
    return ms;
}

// A line of /proc/self/status in kB (VmRSS, VmHWM).
long memoriaKb(const char* voce) {
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& riga : f.readAll().split('\n'))
        if (riga.startsWith(voce))
            return riga.mid(qstrlen(voce) + 1).trimmed().split(' ').value(0).toLong();
    return 0;
}

void attendi(int ms) {
    QEventLoop ciclo;
    QTimer::singleShot(ms, &ciclo, &QEventLoop::quit);
    ciclo.exec();
}

// Runs the event loop until `fatto` holds (checked at every change of the Oggi table) or
// `limite` ms passed; the ms waited.
template <typename F> double finche(QTableWidget* t, F fatto, int limite = 10000) {
    const qint64 inizio = oraNs();
    QEventLoop ciclo;
    const auto prova = [&] {
        if (fatto())
            ciclo.quit();
    };
    const auto c = QObject::connect(t->model(), &QAbstractItemModel::dataChanged, &ciclo, prova);
    QTimer::singleShot(limite, &ciclo, &QEventLoop::quit);
    if (!fatto())
        ciclo.exec();
    QObject::disconnect(c);
    return double(oraNs() - inizio) / 1e6;
}

// The child's part: the window on `archivio` from the process's start to its first paint (the
// parent's clock at the start is in QVR_BENCH_T0), then its memory once the day is shown.
int figlio(int argc, char* argv[], const QString& archivio) {
    const qint64 t0 = qEnvironmentVariable("QVR_BENCH_T0").toLongLong();
    QApplication app(argc, argv);
    ufficio::FinestraUfficio w(archivio);
    struct Primo : QObject {
        qint64 ns = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint && !ns)
                ns = oraNs();
            return false;
        }
    } primo;
    w.installEventFilter(&primo);
    w.show();
    while (!primo.ns)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    auto* oggi = w.findChild<QTableWidget*>(QStringLiteral("tabellaOggi"));
    finche(oggi, [&] { return oggi->rowCount() > 0; });
    attendi(1000);
    std::printf("%.1f %ld %ld\n", double(primo.ns - t0) / 1e6, memoriaKb("VmRSS:"),
                memoriaKb("VmHWM:"));
    return 0;
}

void avvii(int quanti, const QString& archivio) {
    std::vector<double> ms, rss, hwm;
    for (int i = 0; i < quanti; ++i) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QVR_BENCH_FIGLIO"), QStringLiteral("1"));
        e.insert(QStringLiteral("QVR_BENCH_T0"), QString::number(oraNs()));
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--archivio"), archivio});
        p.waitForFinished(60000);
        const QList<QByteArray> v = p.readAllStandardOutput().trimmed().split(' ');
        if (v.size() == 3) {
            ms.push_back(v[0].toDouble());
            rss.push_back(v[1].toDouble() / 1024);
            hwm.push_back(v[2].toDouble() / 1024);
        }
        attendi(1500);
    }
    std::printf("avvio -> prima pittura: mediana %.1f ms, massimo %.1f ms (%zu avvii)\n",
                bench::mediana(ms), bench::percentile(ms, 1.0), ms.size());
    std::printf("memoria residente con la pagina Oggi: mediana %.1f MB (picco %.1f MB)\n",
                bench::mediana(rss), bench::mediana(hwm));
}

// Station 1's display record takes `numero` in state 3, as its console writes it.
void chiama(const QString& archivio, int numero) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, nomi::FileQVRB));
    c.impostaOrigine(nomi::tabNumeriCode(1));
    c.aggiorna(true);
    c.modifica();
    c.assegna(nomi::CampoNumeroA1, numero);
    c.assegna(nomi::CampoStatoN1, nomi::StatoInCorso);
    c.salva();
    c.chiudi();
}

} // namespace

int main(int argc, char* argv[]) {
    QString archivio;
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "--archivio") == 0)
            archivio = QString::fromLocal8Bit(argv[i + 1]);
    if (qEnvironmentVariableIsSet("QVR_BENCH_FIGLIO"))
        return figlio(argc, argv, archivio);

    QApplication app(argc, argv);
    QCommandLineParser p;
    const QCommandLineOption nAvvii(QStringLiteral("avvii"), {}, QStringLiteral("n"),
                                    QStringLiteral("7"));
    const QCommandLineOption inattivo(QStringLiteral("inattivo"), {}, QStringLiteral("s"),
                                      QStringLiteral("30"));
    const QCommandLineOption campioni(QStringLiteral("campioni"), {}, QStringLiteral("n"),
                                      QStringLiteral("20"));
    const QCommandLineOption archivioOpz(QStringLiteral("archivio"), {}, QStringLiteral("a"));
    const QCommandLineOption pgDati(QStringLiteral("pg-dati"), {}, QStringLiteral("cartella"));
    const QCommandLineOption figure(QStringLiteral("figure"), {}, QStringLiteral("cartella"));
    p.addOptions({nAvvii, inattivo, campioni, archivioOpz, pgDati, figure});
    p.process(app);

    QTemporaryDir cartella;
    if (archivio.isEmpty())
        archivio = cartella.filePath(QStringLiteral("archivio"));
    try {
        if (eServer(archivio))
            server::creaDatabase(archivio);
        creaArchivio(archivio, {}, true);
    } catch (const ErroreQvr& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.testoCompleto()));
        return 1;
    }
    server::chiudiConnessioni();
    std::printf("Archivio: %s\n", qPrintable(archivio));
    avvii(p.value(nAvvii).toInt(), archivio);

    ufficio::FinestraUfficio w(archivio);
    w.show();
    auto* schede = w.findChild<QTabWidget*>(QStringLiteral("schede"));
    auto* oggi = w.findChild<QTableWidget*>(QStringLiteral("tabellaOggi"));
    schede->setCurrentWidget(oggi->parentWidget());
    finche(oggi, [&] { return oggi->rowCount() > 0; });
    attendi(2000);

    const double cpu0 = cpuMs(), server0 = cpuCluster(p.value(pgDati));
    const qint64 t0 = oraNs();
    attendi(p.value(inattivo).toInt() * 1000);
    const double durata = double(oraNs() - t0) / 1e6;
    std::printf("pagina Oggi inattiva per %.0f s: %.3f %% di un core (%.0f ms di CPU)",
                durata / 1000, 100 * (cpuMs() - cpu0) / durata, cpuMs() - cpu0);
    if (p.isSet(pgDati))
        std::printf("; il server %.3f %% di un core",
                    100 * (cpuCluster(p.value(pgDati)) - server0) / durata);
    std::printf("\n");

    // A station's call, at a random moment of the half-second poll: until the Oggi page shows it.
    std::vector<double> ritardi;
    for (int i = 1; i <= p.value(campioni).toInt(); ++i) {
        attendi(200 + int(std::rand() % 600));
        const qint64 prima = oraNs();
        chiama(archivio, i);
        const double scritto = double(oraNs() - prima) / 1e6;
        const QString atteso = QString::number(i);
        const double ms =
            finche(oggi, [&] { return oggi->item(0, 3) && oggi->item(0, 3)->text() == atteso; });
        ritardi.push_back(scritto + ms);
    }
    std::printf("chiamata -> pagina Oggi aggiornata: mediana %.0f ms, 90%% %.0f ms, massimo %.0f "
                "ms (%zu campioni)\n",
                bench::mediana(ritardi), bench::percentile(ritardi, 0.9),
                bench::percentile(ritardi, 1.0), ritardi.size());

    if (p.isSet(figure)) {
        w.apri(p.value(figure));
        schede->setCurrentIndex(schede->count() - 1);
        w.findChild<QDateEdit*>(QStringLiteral("dal"))->setDate(QDate(2000, 1, 1));
        w.findChild<QDateEdit*>(QStringLiteral("al"))->setDate(QDate::currentDate().addYears(5));
        // The status line is asked to paint every 50 ms meanwhile, as an uncovered window is.
        struct Pitture : QObject {
            qint64 ultima = 0, pausa = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) {
                    pausa = std::max(pausa, oraNs() - ultima);
                    ultima = oraNs();
                }
                return false;
            }
        } pitture;
        auto* stato = w.findChild<QLabel*>(QStringLiteral("stato"));
        stato->installEventFilter(&pitture);
        std::atomic<bool> basta{false};
        std::thread sollecito([&] {
            for (; !basta; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
                QMetaObject::invokeMethod(stato, [stato] { stato->update(); });
        });
        std::vector<double> ms;
        for (int i = 0; i < 3; ++i) {
            attendi(300);
            const qint64 prima = oraNs();
            pitture.ultima = prima;
            pitture.pausa = 0;
            w.findChild<QPushButton*>(QStringLiteral("calcola"))->click();
            ms.push_back(double(oraNs() - prima) / 1e6);
        }
        basta = true;
        sollecito.join();
        std::printf("\"Calcola\" sul registro di %s: mediana %.0f ms, massimo %.0f ms (3 volte), "
                    "al più %.0f ms senza disegnare nell'ultima; %s\n",
                    qPrintable(p.value(figure)), bench::mediana(ms), bench::percentile(ms, 1.0),
                    double(pitture.pausa) / 1e6, qPrintable(w.testoStato()));
        std::printf("memoria residente dopo le figure: %.1f MB (picco %.1f MB)\n",
                    memoriaKb("VmRSS:") / 1024.0, memoriaKb("VmHWM:") / 1024.0);
    }
    return 0;
}
