#include "app/avvio.h"

#include "app/gestione.h"
#include "launcher/apertura.h"

#include "archive/informazioni.h"
#include "finestre/applicazione.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTextStream>

namespace qvr {

void impostaApplicazione(QApplication& applicazione) {
    // No display name: the window system would append it to every caption.
    applicazione.setApplicationName(QStringLiteral("qvr-client"));
    applicazione.setOrganizationName(QStringLiteral("QVR"));
    applicazione.setApplicationVersion(QStringLiteral("3.7.2"));

    finestre::traduciToolkit(applicazione);
}

bool apriPrimaFinestra(Apertura& apertura) {
    if (!eseguiGestito([&apertura] { apertura.Carica(); }))
        return false;
    // In the middle of the screen, as the first window of the program.
    apertura.adjustSize();
    if (const QScreen* schermo = apertura.screen()) {
        QRect area = apertura.frameGeometry();
        area.moveCenter(schermo->availableGeometry().center());
        apertura.move(area.topLeft());
    }
    apertura.show();
    return true;
}

int rispondiInformazioni(int argc, char* argv[]) {
    QCoreApplication programma(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvr-client"));
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Postazione di chiamata del sistema di code. Non ha altre opzioni: legge\n"
                       "la cartella dell'archivio e la postazione da percorsi.txt (nella cartella\n"
                       "di lavoro, o in quella dei dati dell'utente quando è installato).\n\n") +
        informazioni::testoLicenza());
    p.addHelpOption();
    const QCommandLineOption versione = informazioni::opzioneVersione();
    p.addOption(versione);
    p.process(programma); // the help, or an unknown option, ends the program here
    if (p.isSet(versione))
        QTextStream(stdout) << informazioni::testoVersione(QStringLiteral("qvr-client"));
    return 0;
}

} // namespace qvr
