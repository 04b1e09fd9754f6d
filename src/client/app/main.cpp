#include "app/avvio.h"
#include "app/cartella_dati.h"
#include "app/fine_sessione.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "archive/informazioni.h"
#include "console/form1.h"
#include "launcher/apertura.h"

#include <QApplication>
#include <QWidget>

#include <memory>

int main(int argc, char* argv[]) {
    // The help and the version are answered without a display.
    if (qvr::informazioni::soloInformazioni(argc, argv))
        return qvr::rispondiInformazioni(argc, argv);
    QApplication app(argc, argv);
    qvr::impostaApplicazione(app);
    qvr::installaFineSessione();
#ifdef QVR_CARTELLA_INSTALLATA
    // Installed: percorsi.txt and the history live in the user's data folder.
    if (!qvr::eseguiGestito([] {
            qvr::entraInCartellaDati(QCoreApplication::applicationDirPath(),
                                     QStringLiteral(QVR_CARTELLA_INSTALLATA));
        }))
        return 1;
#endif

    qvr::Apertura apertura;

    // "Avvia Client": the console loads (its whole load sequence, with its own checks and
    // reports) and is shown; a load that cannot go on has already ended the program.
    std::unique_ptr<qvr::Form1> console;
    QObject::connect(&apertura, &qvr::Apertura::avviaClientRichiesto, [&console] {
        console = std::make_unique<qvr::Form1>();
        if (qvr::eseguiGestito([&console] { console->Carica(); }))
            console->show();
    });

    if (!qvr::apriPrimaFinestra(apertura))
        return 1;
    const int codice = app.exec();
    // Closes what is still open (the call history) and leaves.
    qvr::chiudiProgramma(codice);
    return codice;
}
