// Start-up of the client, measured inside fresh processes that run the code main runs:
// QApplication, impostaApplicazione, the launcher Apertura and apriPrimaFinestra; then a click
// on "Avvia Client" (PB1(2)), which loads and shows the console Form1 as main does.
//
// For each run the program starts itself again (a new process, so the dynamic loading of the
// libraries and the toolkit's start are counted) and the child reports:
//  - launcher: from the process start to the first paint of the launcher, measured from the
//    parent's clock just before it starts the child (fine) and from the kernel's start time of
//    the process in /proc/self/stat (10 ms steps);
//  - console: from the click on "Avvia Client" to the end of Form1's load, and to its first paint.
// The first run is reported apart (cold caches). Run it on the real display platform (under
// Xvfb for a machine without a screen); prints medians and never fails on a time.
//
// The only difference from main: the single-copy check uses a name of this run's own, so a
// client running elsewhere on the machine does not stop the measurement.
//
// Usage: bench_avvio [runs, default 7]

#include "statistiche.h"

#include "app/avvio.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "archive/crea_archivio.h"
#include "console/copia_unica.h"
#include "console/form1.h"
#include "launcher/apertura.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using qvr::bench::mediana;

qint64 adessoNs(clockid_t orologio = CLOCK_MONOTONIC) {
    timespec t{};
    clock_gettime(orologio, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Milliseconds since the kernel started this process (field 22 of /proc/self/stat, in clock
// ticks since boot), against CLOCK_BOOTTIME.
double msDallAvvioKernel() {
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray testo = f.readAll();
    // The command name may hold blanks: the fields after it follow the last ')'.
    const QList<QByteArray> campi = testo.mid(testo.lastIndexOf(')') + 2).split(' ');
    if (campi.size() < 20)
        return -1;
    const double avvio = campi.at(19).toDouble() / double(sysconf(_SC_CLK_TCK)); // field 22
    return (double(adessoNs(CLOCK_BOOTTIME)) / 1e9 - avvio) * 1000.0;
}

// Calls `quando` at the first paint of any widget of `finestra`.
class PrimaPittura : public QObject {
public:
    PrimaPittura(QWidget* finestra, std::function<void()> quando)
        : m_finestra(finestra), m_quando(std::move(quando)) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* oggetto, QEvent* evento) override {
        if (!m_fatto && evento->type() == QEvent::Paint && oggetto->isWidgetType() &&
            static_cast<QWidget*>(oggetto)->window() == m_finestra) {
            m_fatto = true;
            m_quando();
        }
        return false;
    }

private:
    QWidget* m_finestra;
    std::function<void()> m_quando;
    bool m_fatto = false;
};

// One start, in this process: the working directory holds percorsi.txt.
int figlio(qint64 lancioNs, int argc, char** argv) {
    const qint64 ingressoNs = adessoNs();
    QApplication app(argc, argv);
    qvr::impostaApplicazione(app);
    qvr::CopiaUnica::impostaPercorsoPredefinito(QDir::current().filePath(
        QStringLiteral("copia-%1.lock").arg(QCoreApplication::applicationPid())));

    double lanciatoreMs = 0, lanciatoreKernelMs = 0, caricaMs = 0;
    qint64 clicNs = 0;

    const qint64 applicazioneNs = adessoNs();
    qvr::Apertura apertura;
    const qint64 costruitaNs = adessoNs();
    qint64 mostrataNs = 0;
    std::unique_ptr<qvr::Form1> console;
    std::unique_ptr<PrimaPittura> pitturaConsole;

    QObject::connect(&apertura, &qvr::Apertura::avviaClientRichiesto, [&] {
        console = std::make_unique<qvr::Form1>();
        pitturaConsole = std::make_unique<PrimaPittura>(console.get(), [&] {
            const double consoleMs = double(adessoNs() - clicNs) / 1e6;
            std::printf("AVVIO main=%.2f lanciatore=%.2f lanciatore_kernel=%.1f carica=%.2f "
                        "console=%.2f applicazione=%.2f costruita=%.2f mostrata=%.2f\n",
                        double(ingressoNs - lancioNs) / 1e6, lanciatoreMs, lanciatoreKernelMs,
                        caricaMs, consoleMs, double(applicazioneNs - lancioNs) / 1e6,
                        double(costruitaNs - lancioNs) / 1e6, double(mostrataNs - lancioNs) / 1e6);
            std::fflush(stdout);
            std::_Exit(0);
        });
        if (qvr::eseguiGestito([&console] { console->Carica(); })) {
            caricaMs = double(adessoNs() - clicNs) / 1e6;
            console->show();
        }
    });

    PrimaPittura pitturaLanciatore(&apertura, [&] {
        lanciatoreMs = double(adessoNs() - lancioNs) / 1e6;
        lanciatoreKernelMs = msDallAvvioKernel();
        // "Avvia Client" once the launcher has been painted, as the operator would press it.
        QTimer::singleShot(0, &apertura, [&] {
            clicNs = adessoNs();
            apertura.PB1(2)->click();
        });
    });
    QTimer::singleShot(30000, [] {
        std::fprintf(stderr, "bench_avvio: nessuna finestra dopo 30 s\n");
        std::_Exit(1);
    });

    if (!qvr::apriPrimaFinestra(apertura))
        return 1;
    mostrataNs = adessoNs();
    return app.exec();
}

} // namespace

namespace {
// The real client seen from outside, on the X display (defined at the end of the file).
void clientVero(const QString& programma, const QString& cartella, int giri);
} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--figlio") == 0)
        return figlio(std::atoll(argv[2]), argc, argv);

    const int giri = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QCoreApplication app(argc, argv);
    QTemporaryDir cartella;
    if (!cartella.isValid()) {
        std::fprintf(stderr, "bench_avvio: cartella temporanea\n");
        return 1;
    }
    // Station 1 in standard numbering with the kiosk in use and people waiting.
    const QString archivio = cartella.path() + QStringLiteral("/archivio");
    qvr::OpzioniArchivio opzioni;
    opzioni.totem = true;
    qvr::creaArchivio(archivio, opzioni);
    {
        sqlite3* db = nullptr;
        const std::string totem = (archivio + QStringLiteral("/Totem.mdb")).toStdString();
        if (sqlite3_open(totem.c_str(), &db) == SQLITE_OK)
            sqlite3_exec(db, "UPDATE Numerazione SET P1=10", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QFile f(cartella.path() + QStringLiteral("/percorsi.txt"));
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "bench_avvio: percorsi.txt\n");
            return 1;
        }
        f.write(QStringLiteral("\"%1\",1\r\n").arg(archivio).toUtf8());
    }

    std::vector<double> main_, lanciatore, kernel, carica, console, applicazione, costruita,
        mostrata;
    int falliti = 0;
    for (int i = 0; i < giri; ++i) {
        // A pause between starts, as between two starts at a desk: the display server and the
        // system finish with the previous process first.
        if (i > 0)
            QThread::msleep(1500);
        QProcess p;
        p.setWorkingDirectory(cartella.path());
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 lancio = adessoNs();
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--figlio"), QString::number(lancio)});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            ++falliti;
            p.kill();
            p.waitForFinished(5000);
            continue;
        }
        const QString riga = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        double v[8] = {};
        int trovati = 0;
        for (const QString& campo : riga.split(' ')) {
            const int uguale = campo.indexOf('=');
            if (uguale > 0 && trovati < 8)
                v[trovati++] = campo.mid(uguale + 1).toDouble();
        }
        if (trovati < 8) {
            ++falliti;
            continue;
        }
        if (i == 0)
            std::printf("bench_avvio: primo avvio (cache fredde o quasi): lanciatore %.1f ms, "
                        "console %.1f ms\n",
                        v[1], v[4]);
        main_.push_back(v[0]);
        applicazione.push_back(v[5]);
        costruita.push_back(v[6]);
        mostrata.push_back(v[7]);
        lanciatore.push_back(v[1]);
        kernel.push_back(v[2]);
        carica.push_back(v[3]);
        console.push_back(v[4]);
    }

    std::printf("bench_avvio: %zu avvii riusciti su %d (piattaforma %s), mediane\n",
                lanciatore.size(), giri,
                qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
                    ? (qEnvironmentVariableIsEmpty("DISPLAY") ? "predefinita" : "xcb")
                    : qPrintable(qEnvironmentVariable("QT_QPA_PLATFORM")));
    std::printf("  %-58s %8.1f ms\n", "avvio del processo -> main()", mediana(main_));
    std::printf("  %-58s %8.1f ms\n", "avvio del processo -> QApplication pronta",
                mediana(applicazione));
    std::printf("  %-58s %8.1f ms\n", "avvio del processo -> Apertura costruita",
                mediana(costruita));
    std::printf("  %-58s %8.1f ms\n", "avvio del processo -> Carica + show() finiti",
                mediana(mostrata));
    std::printf("  %-58s %8.1f ms\n", "avvio del processo -> lanciatore dipinto",
                mediana(lanciatore));
    std::printf("  %-58s %8.1f ms\n", "  lo stesso dal tempo di avvio del kernel (passi di 10 ms)",
                mediana(kernel));
    std::printf("  %-58s %8.1f ms\n", "\"Avvia Client\" -> fine del caricamento di Form1",
                mediana(carica));
    std::printf("  %-58s %8.1f ms\n", "\"Avvia Client\" -> console dipinta", mediana(console));
    if (!lanciatore.empty())
        std::printf("  %-58s %8.1f ms\n", "lanciatore: peggiore",
                    *std::max_element(lanciatore.begin(), lanciatore.end()));
    std::printf("  %-58s", "lanciatore, ogni avvio (ms):");
    for (double v : lanciatore)
        std::printf(" %.0f", v);
    std::printf("\n");
    if (falliti)
        std::printf("  avvii non riusciti: %d\n", falliti);

    const QString client =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../qvr-client");
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && QFile::exists(client))
        clientVero(client, cartella.path(), giri);
    else
        std::printf("\nbench_avvio: client vero non misurato (serve un display X e %s)\n",
                    qPrintable(client));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The real client, started as a desk starts it (no arguments, the working directory holding
// percorsi.txt) and watched from outside through the X server: the launcher counts as shown when
// the server maps a top-level window with the client's caption; "Avvia Client" is pressed with
// synthetic keys (Tab from the kiosk box to the button, then Space) and the console counts as
// shown when the next such window is mapped. libX11 and libXtst are loaded at run time.

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <poll.h>

namespace {

struct LibX {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    template <typename F> F fn(void* lib, const char* nome) {
        return lib ? reinterpret_cast<F>(dlsym(lib, nome)) : nullptr;
    }
    decltype(&XOpenDisplay) apri = fn<decltype(&XOpenDisplay)>(x11, "XOpenDisplay");
    decltype(&XDefaultRootWindow) radice =
        fn<decltype(&XDefaultRootWindow)>(x11, "XDefaultRootWindow");
    decltype(&XSelectInput) seleziona = fn<decltype(&XSelectInput)>(x11, "XSelectInput");
    decltype(&XPending) inAttesa = fn<decltype(&XPending)>(x11, "XPending");
    decltype(&XNextEvent) prossimo = fn<decltype(&XNextEvent)>(x11, "XNextEvent");
    decltype(&XConnectionNumber) connessione =
        fn<decltype(&XConnectionNumber)>(x11, "XConnectionNumber");
    decltype(&XFetchName) nome = fn<decltype(&XFetchName)>(x11, "XFetchName");
    decltype(&XFree) libera = fn<decltype(&XFree)>(x11, "XFree");
    decltype(&XSetInputFocus) fuoco = fn<decltype(&XSetInputFocus)>(x11, "XSetInputFocus");
    decltype(&XKeysymToKeycode) codice = fn<decltype(&XKeysymToKeycode)>(x11, "XKeysymToKeycode");
    decltype(&XSync) sincronizza = fn<decltype(&XSync)>(x11, "XSync");
    decltype(&XCloseDisplay) chiudi = fn<decltype(&XCloseDisplay)>(x11, "XCloseDisplay");
    using Tasto = int (*)(Display*, unsigned int, int, unsigned long);
    Tasto tasto = fn<Tasto>(xtst, "XTestFakeKeyEvent");

    bool completa() const {
        return apri && radice && seleziona && inAttesa && prossimo && connessione && nome &&
               libera && fuoco && codice && sincronizza && chiudi && tasto;
    }
};

// Waits up to `ms` for a newly mapped top-level window with the client's caption, other than
// `escludi`; returns it (0 on timeout).
Window attendiMappa(LibX& x, Display* d, Window escludi, int ms) {
    const qint64 limite = adessoNs() + qint64(ms) * 1000000;
    while (adessoNs() < limite) {
        while (x.inAttesa(d) > 0) {
            XEvent e;
            x.prossimo(d, &e);
            if (e.type != MapNotify || e.xmap.window == escludi)
                continue;
            char* titolo = nullptr;
            bool nostro = false;
            if (x.nome(d, e.xmap.window, &titolo) && titolo) {
                nostro = std::strcmp(titolo, "QVR - 3.7.2 - Modulo Client") == 0;
                x.libera(titolo);
            }
            if (nostro)
                return e.xmap.window;
        }
        pollfd p{x.connessione(d), POLLIN, 0};
        ::poll(&p, 1, 50);
    }
    return 0;
}

void premi(LibX& x, Display* d, const char* simbolo, qint64* rilascioNs = nullptr) {
    const unsigned int k = x.codice(d, simbolo[0] == ' ' ? 0x20 : 0xff09); // Space or Tab
    x.tasto(d, k, 1, 0);
    x.sincronizza(d, 0);
    if (rilascioNs)
        *rilascioNs = adessoNs(); // a button acts on the release
    x.tasto(d, k, 0, 0);
    x.sincronizza(d, 0);
}

void clientVero(const QString& programma, const QString& cartella, int giri) {
    LibX x;
    Display* d = x.completa() ? x.apri(nullptr) : nullptr;
    if (!d) {
        std::printf("\nbench_avvio: client vero non misurato (libX11/libXtst o display assenti)\n");
        return;
    }
    const Window radice = x.radice(d);
    x.seleziona(d, radice, SubstructureNotifyMask);
    x.sincronizza(d, 0);

    std::vector<double> lanciatore, console;
    int falliti = 0;
    for (int i = 0; i < giri; ++i) {
        QThread::msleep(1500);
        x.sincronizza(d, 1); // drops the events of the previous run
        QProcess p;
        p.setWorkingDirectory(cartella);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 t0 = adessoNs();
        p.start(programma, {});
        const Window w = attendiMappa(x, d, 0, 20000);
        const qint64 t1 = adessoNs();
        Window c = 0;
        qint64 t2 = 0;
        if (w) {
            lanciatore.push_back(double(t1 - t0) / 1e6);
            QThread::msleep(500); // the operator looks at it first
            x.fuoco(d, w, RevertToParent, CurrentTime);
            x.sincronizza(d, 0);
            QThread::msleep(200);
            premi(x, d, "\t");
            QThread::msleep(100);
            premi(x, d, " ", &t2);
            c = attendiMappa(x, d, w, 20000);
            if (c)
                console.push_back(double(adessoNs() - t2) / 1e6);
        }
        if (!w || !c)
            ++falliti;
        p.kill();
        p.waitForFinished(5000);
    }
    x.chiudi(d);

    std::printf("\nbench_avvio: il client vero (%s) visto dal server X, %zu avvii, mediane\n",
                qPrintable(QFileInfo(programma).canonicalFilePath()), lanciatore.size());
    std::printf("  %-58s %8.1f ms\n", "avvio del processo -> lanciatore mappato",
                mediana(lanciatore));
    std::printf("  %-58s %8.1f ms\n", "\"Avvia Client\" (Spazio rilasciato) -> console mappata",
                mediana(console));
    std::printf("  %-58s", "lanciatore, ogni avvio (ms):");
    for (double v : lanciatore)
        std::printf(" %.0f", v);
    std::printf("\n  %-58s", "console, ogni avvio (ms):");
    for (double v : console)
        std::printf(" %.0f", v);
    std::printf("\n");
    if (falliti)
        std::printf("  avvii non riusciti (finestra assente entro 20 s): %d\n", falliti);
}

} // namespace
