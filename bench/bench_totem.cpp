// bench_totem: the kiosk's tap to the number on screen (the ticket issued and committed, the
// window repainted), and the tap to the print job accepted by CUPS on the PDF queue QVR-PDF
// (scripts/servizi/cups.sh). Prints median, 99th percentile and maximum; never fails on a time.
//   bench_totem [taps, default 200]
#include "archive/crea_archivio.h"
#include "statistiche.h"
#include "totem/chiosco.h"
#include "totem/finestra_totem.h"
#include "totem/stampa.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace qvr;
using namespace qvr::totem;

namespace {

void riga(const char* nome, const std::vector<double>& ms) {
    std::printf("%-44s mediana %7.2f ms  99%% %7.2f ms  massimo %7.2f ms  (%zu)\n", nome,
                bench::mediana(ms), bench::percentile(ms, 0.99),
                ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()), ms.size());
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int tocchi = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    OpzioniArchivio o;
    o.totem = true;
    creaArchivio(dir.filePath("archivio"), o);
    ImpostazioniTotem s;
    s.cartella = dir.filePath("archivio");
    s.ufficio = QStringLiteral("Ufficio");
    s.servizi = {{QStringLiteral("Anagrafe"), 1}, {QStringLiteral("Unica"), 11}};
    s.ritorno = 1;
    s.stampante = QStringLiteral("QVR-PDF");
    s.impostaPin(QStringLiteral("0000")); // a kiosk without a PIN serves nobody
    Chiosco chiosco(s);
    chiosco.impostaStampa([](const DatiBiglietto&) { return EsitoStampa{true, 0, {}}; });
    FinestraTotem w(&chiosco, {});
    w.resize(1024, 768);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        std::printf("finestra non esposta\n");
    QTest::qWait(200); // the first check of the archive

    std::vector<double> schermo;
    for (int i = 0; i < tocchi; ++i) {
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(w.bottoniServizi()[i % 2], Qt::LeftButton);
        // The ticket is issued on the kiosk's archive thread; its answer comes as an event.
        while (chiosco.schermata() != Schermata::Numero && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        w.repaint(); // the number drawn
        schermo.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (chiosco.schermata() != Schermata::Numero)
            std::printf("tocco %d: nessun numero (%s)\n", i, qPrintable(chiosco.stato()));
        QTest::qWait(1050); // back to the services
        if (i == 20 && tocchi > 40)
            i = tocchi - 20; // keep the run short: 40 taps through the window
    }
    riga("tocco -> numero sullo schermo (finestra)", schermo);

    std::vector<double> emissione;
    for (int i = 0; i < tocchi; ++i) {
        QElapsedTimer t;
        t.start();
        biglietti::emetti(s.cartella, i % 2 ? 11 : 1);
        emissione.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    riga("emissione di un biglietto (transazione)", emissione);

    std::vector<double> stampa;
    const Stampante stampante(s);
    if (!stampante.problema().isEmpty()) {
        std::printf("stampa CUPS non misurata: %s\n", qPrintable(stampante.problema()));
        return 0;
    }
    for (int i = 0; i < std::min(tocchi, 50); ++i) {
        QElapsedTimer t;
        t.start();
        const biglietti::Biglietto b = biglietti::emetti(s.cartella, 1);
        const EsitoStampa e = stampante.stampa({s.ufficio, QStringLiteral("Anagrafe"), b.numero,
                                                b.davanti, QDateTime::currentDateTime()});
        stampa.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (!e.riuscita)
            std::printf("stampa %d non riuscita: %s\n", i, qPrintable(e.errore));
    }
    riga("tocco -> lavoro accettato da CUPS (PDF)", stampa);
    return 0;
}
