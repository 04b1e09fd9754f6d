#include "app/avvio.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "launcher/apertura.h"

#include <QApplication>
#include <QWidget>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    qvr::impostaApplicazione(app);

    qvr::Apertura apertura;

    // The console takes over from the launcher. Until it is in place, a plain window stands for
    // it, so that the start can be followed end to end.
    std::unique_ptr<QWidget> console;
    QObject::connect(&apertura, &qvr::Apertura::avviaClientRichiesto, [&console] {
        console = std::make_unique<QWidget>();
        console->setObjectName(QStringLiteral("Form1"));
        console->setWindowTitle(qvr::VersioneCaption);
        console->show();
    });

    if (!qvr::apriPrimaFinestra(apertura))
        return 1;
    const int codice = app.exec();
    // Closes what is still open (the call history) and leaves.
    qvr::chiudiProgramma(codice);
    return codice;
}
