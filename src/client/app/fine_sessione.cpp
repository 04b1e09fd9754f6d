#include "app/fine_sessione.h"

#include "app/gestione.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qvr {

namespace {

int g_tubo[2] = {-1, -1};

extern "C" void alSegnale(int) {
    const char c = 1;
    const int salvato = errno;
    (void)!::write(g_tubo[1], &c, 1);
    errno = salvato;
}

} // namespace

void installaFineSessione() {
    if (g_tubo[0] >= 0)
        return;
    if (::pipe2(g_tubo, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_tubo[0] = g_tubo[1] = -1;
        return;
    }
    // Owned by the application, so it goes when the application does.
    auto* avviso =
        new QSocketNotifier(g_tubo[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(avviso, &QSocketNotifier::activated, [] {
        char c;
        while (::read(g_tubo[0], &c, 1) > 0) {
        }
        chiudiProgramma(0);
    });
    struct sigaction azione {};
    azione.sa_handler = alSegnale;
    sigemptyset(&azione.sa_mask);
    azione.sa_flags = SA_RESTART;
    for (const int segnale : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(segnale, &azione, nullptr);
}

} // namespace qvr
