// The recorder's web pages under an office's load: FLUSSI event streams (the customers' phones)
// and TABELLONI more (the boards) open on one qvr-server while ten stations call every 500 ms for
// SECONDI seconds, each station its own process with the console's operation. Every stream must
// receive every event of the journal from its start, in order, none twice; the figures are the
// server's CPU (per 100 streams) and memory over the run.
//   bench_web [FLUSSI=500] [TABELLONI=5] [SECONDI=60]
#include "registro/deposito.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One event stream: its bytes de-chunked, the event ids seen.
struct Flusso {
    int fd = -1;
    std::string grezzo; // as received (chunked)
    bool intestazioni = false;
    std::string testo; // the stream's text
    std::vector<qint64> id;
    bool fuoriOrdine = false;

    void leggi(const char* b, size_t n) {
        grezzo.append(b, n);
        if (!intestazioni) {
            const size_t fine = grezzo.find("\r\n\r\n");
            if (fine == std::string::npos)
                return;
            grezzo.erase(0, fine + 4);
            intestazioni = true;
        }
        for (;;) { // chunk size in hex, CRLF, data, CRLF
            const size_t riga = grezzo.find("\r\n");
            if (riga == std::string::npos)
                return;
            const size_t dim = std::stoul(grezzo.substr(0, riga), nullptr, 16);
            if (grezzo.size() < riga + 2 + dim + 2)
                return;
            testo.append(grezzo, riga + 2, dim);
            grezzo.erase(0, riga + 2 + dim + 2);
        }
    }
    void analizza() {
        size_t da = 0;
        for (size_t fine; (fine = testo.find("\n\n", da)) != std::string::npos; da = fine + 2) {
            const std::string blocco = testo.substr(da, fine - da);
            if (blocco.rfind("id: ", 0) == 0) {
                const qint64 n = std::stoll(blocco.substr(4));
                if (!id.empty() && n <= id.back())
                    fuoriOrdine = true;
                id.push_back(n);
            }
        }
        testo.erase(0, da);
    }
};

int connetti(int porta) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(porta));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

int portaLibera() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t l = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &l);
    ::close(s);
    return ntohs(a.sin_port);
}

// The process's CPU time so far, in seconds, and its peak resident memory, in MB.
double cpu(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> c = f.readAll().split(')').last().trimmed().split(' ');
    return (c[11].toDouble() + c[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}
double memoriaMb(qint64 pid, const char* voce) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& r : f.readAll().split('\n'))
        if (r.startsWith(voce))
            return r.mid(int(std::strlen(voce))).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int flussi = argc > 1 ? std::atoi(argv[1]) : 500;
    const int tabelloni = argc > 2 ? std::atoi(argv[2]) : 5;
    const int secondi = argc > 3 ? std::atoi(argv[3]) : 60;
    const QString build = QDir(app.applicationDirPath()).absoluteFilePath(QStringLiteral(".."));
    QTemporaryDir dir;
    const QString archivio = dir.filePath(QStringLiteral("archivio"));
    QProcess crea;
    crea.setStandardOutputFile(QProcess::nullDevice());
    crea.start(build + QStringLiteral("/qvr-archivio"), {"crea", archivio});
    if (!crea.waitForFinished(60000) || crea.exitCode() != 0) {
        std::fprintf(stderr, "archivio non creato\n");
        return 1;
    }
    const int porta = portaLibera();
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    server.start(build + QStringLiteral("/qvr-server"),
                 {"--archivio", archivio, "--ascolta", QStringLiteral("127.0.0.1:%1").arg(porta)});
    QByteArray log;
    QElapsedTimer t;
    t.start();
    while (!log.contains("Registrazione avviata") && t.elapsed() < 20000) {
        server.waitForReadyRead(200);
        log += server.readAllStandardError();
    }
    if (!log.contains("Registrazione avviata")) {
        std::fprintf(stderr, "qvr-server non pronto: %s\n", log.constData());
        return 1;
    }
    const qint64 pid = server.processId();

    std::vector<Flusso> v(size_t(flussi + tabelloni));
    for (Flusso& f : v) {
        f.fd = connetti(porta);
        const char richiesta[] = "GET /api/eventi HTTP/1.1\r\nHost: banco\r\n\r\n";
        if (f.fd < 0 || ::send(f.fd, richiesta, sizeof richiesta - 1, MSG_NOSIGNAL) < 0) {
            std::fprintf(stderr, "flusso non aperto\n");
            return 1;
        }
    }
    std::vector<pollfd> p(v.size());
    auto ricevi = [&](int ms) {
        QElapsedTimer r;
        r.start();
        while (r.elapsed() < ms) {
            for (size_t i = 0; i < v.size(); ++i)
                p[i] = {v[i].fd, POLLIN, 0};
            if (::poll(p.data(), p.size(), 100) <= 0)
                continue;
            char b[65536];
            for (size_t i = 0; i < v.size(); ++i)
                if (p[i].revents & POLLIN) {
                    const ssize_t n = ::recv(v[i].fd, b, sizeof b, 0);
                    if (n > 0)
                        v[i].leggi(b, size_t(n));
                }
            log += server.readAllStandardError();
        }
        for (Flusso& f : v)
            f.analizza();
    };
    ricevi(2000); // every stream open, its heartbeats flowing
    const auto ultimo = [&] {
        const auto r = qvr::registro::deposito(archivio);
        r->apriLettura();
        const auto e = r->ultimo();
        return e ? e->seq : 0;
    };
    const qint64 primo = ultimo();
    const double cpu0 = cpu(pid);
    QElapsedTimer durata;
    durata.start();
    std::vector<std::unique_ptr<QProcess>> stazioni;
    for (int n = 1; n <= 10; ++n) {
        auto s = std::make_unique<QProcess>();
        s->start(build + QStringLiteral("/tests/tabellone_stazione"),
                 {archivio, QString::number(n), QString::number(secondi * 2), "500"});
        stazioni.push_back(std::move(s));
    }
    for (bool finite = false; !finite;) {
        ricevi(500);
        finite = true;
        for (auto& s : stazioni)
            finite = finite && (s->state() == QProcess::NotRunning || s->waitForFinished(0));
    }
    ricevi(2000); // the last calls on their way
    const double secondiCpu = cpu(pid) - cpu0;
    const double trascorsi = double(durata.elapsed()) / 1000;
    const double rss = memoriaMb(pid, "VmRSS:"), picco = memoriaMb(pid, "VmHWM:");

    std::vector<qint64> attesi;
    int chiamate = 0;
    {
        const auto r = qvr::registro::deposito(archivio);
        r->apriLettura();
        for (const auto& e : r->tutti())
            if (e.seq > primo) {
                attesi.push_back(e.seq);
                chiamate += e.tipo == qvr::registro::Tipo::Chiamata;
            }
    }
    int completi = 0, fuoriOrdine = 0;
    for (Flusso& f : v) {
        std::vector<qint64> dopo;
        for (qint64 n : f.id)
            if (n > primo)
                dopo.push_back(n);
        completi += dopo == attesi;
        fuoriOrdine += f.fuoriOrdine;
        ::close(f.fd);
    }
    server.terminate();
    server.waitForFinished(10000);
    const double percento = 100 * secondiCpu / trascorsi;
    std::printf("flussi %d + tabelloni %d, 10 postazioni ogni 500 ms per %d s: %d chiamate, %zu "
                "eventi\n",
                flussi, tabelloni, secondi, chiamate, attesi.size());
    std::printf("flussi con ogni evento, in ordine: %d di %zu (fuori ordine: %d)\n", completi,
                v.size(), fuoriOrdine);
    std::printf("CPU di qvr-server: %.1f%% di un core (%.2f%% ogni 100 flussi); memoria %.0f MB, "
                "picco %.0f MB\n",
                percento, percento * 100 / double(v.size()), rss, picco);
    return completi == int(v.size()) && chiamate == 10 * secondi * 2 ? 0 : 1;
}
