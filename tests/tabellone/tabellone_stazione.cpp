// A station for the board's cross-process test: makes CHIAMATE calls with the console's own
// operation (standard numbering), one every PAUSA ms, and prints each number published with
// the time the call took, in microseconds, and the wall-clock time of its commit, in
// milliseconds since 1970 (for the web pages' latency measure).
//   tabellone_stazione CARTELLA POSTAZIONE CHIAMATE PAUSA
#include "app/globali.h"
#include "archive/errori.h"
#include "console/operazioni.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() != 5)
        return 2;
    qvr::PercorsoArchivi = a[1];
    qvr::NumeroPostazione = a[2].toInt();
    const int chiamate = a[3].toInt();
    const int pausa = a[4].toInt();
    try {
        for (int i = 0; i < chiamate; ++i) {
            QElapsedTimer t;
            t.start();
            qvr::operazioni::ChiamaProssimo(false, false);
            std::printf("%d %lld %lld\n", qvr::NumeroChiamato, t.nsecsElapsed() / 1000,
                        QDateTime::currentMSecsSinceEpoch());
            std::fflush(stdout);
            QThread::msleep(static_cast<unsigned long>(pausa));
        }
    } catch (const qvr::ErroreQvr& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
