// A station in single numbering with the kiosk in use, without a window:
//
//   stazione_singola <workdir> <calls>
//       works in <workdir> (which holds percorsi.txt) and makes <calls> calls exactly as the
//       console's call button does: the waiting count P11Q read first (when it shows nobody,
//       the count is refreshed as the console's timer would, and the press tried again), the
//       single-numbering draw, then the refresh of the count. Each number drawn is written to
//       stdout, one per line. Exits 1 on any error, 2 when nobody waits for too long.
//
//   stazione_singola --totem <archive folder> <tickets>
//       the kiosk: issues <tickets> tickets of the shared sequence (P11), one after the other.

#include "app/globali.h"
#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "console/operazioni.h"
#include "launcher/percorsi.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <cstdio>

using namespace qvr;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 3) {
        std::fprintf(stderr, "uso: stazione_singola <cartella di lavoro> <chiamate>\n"
                             "     stazione_singola --totem <archivio> <biglietti>\n");
        return 1;
    }
    try {
        if (args.at(1) == QStringLiteral("--totem")) {
            const int biglietti = args.value(3).toInt();
            for (int i = 0; i < biglietti; ++i)
                emettiBiglietto(args.at(2), 11);
            return 0;
        }

        if (!QDir::setCurrent(args.at(1))) {
            std::fprintf(stderr, "cartella di lavoro non trovata\n");
            return 1;
        }
        const int chiamate = args.at(2).toInt();
        LeggiPercorsi();
        NumeroPostazione = PostazioneTesto.toInt();
        TotemInUso = true;
        ModoSingolo = true;
        for (int i = 0; i < chiamate; ++i) {
            int attese = 0;
            while (operazioni::valoreNumerico(operazioni::LeggiCodaSingola()) == 0) {
                if (++attese > 3000) {
                    std::fprintf(stderr, "nessuno in coda dopo %d tentativi\n", attese);
                    return 2;
                }
                operazioni::AggiornaCodaSingola();
                QThread::msleep(5);
            }
            const std::optional<qint32> estratto = operazioni::ChiamaSingolaConCoda(false);
            operazioni::AggiornaCodaSingola();
            if (!estratto) { // another station called the one waiting first: press again
                --i;
                continue;
            }
            const qint32 numero = *estratto;
            std::printf("%d\n", numero);
            std::fflush(stdout);
        }
        return 0;
    } catch (const ErroreQvr& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
