// A station for the web pages' latency measure: makes CHIAMATE calls with the console's own
// operation (standard numbering), one every PAUSA ms, and prints each number published with the
// wall-clock time of its commit, in milliseconds since 1970.
//   web_stazione CARTELLA POSTAZIONE CHIAMATE PAUSA
#include "app/globali.h"
#include "archive/errori.h"
#include "console/operazioni.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() != 5)
        return 2;
    qvr::PercorsoArchivi = a[1];
    qvr::NumeroPostazione = a[2].toInt();
    try {
        for (int i = 0; i < a[3].toInt(); ++i) {
            qvr::operazioni::ChiamaProssimo(false, false);
            std::printf("%d %lld\n", qvr::NumeroChiamato, QDateTime::currentMSecsSinceEpoch());
            std::fflush(stdout);
            QThread::msleep(static_cast<unsigned long>(a[4].toInt()));
        }
    } catch (const qvr::ErroreQvr& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
