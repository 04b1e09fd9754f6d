// qvr-ufficio: the office manager's window (stations, users, numbering, the kiosk switch,
// today's queue, the archive's upkeep and the figures).
//   qvr-ufficio [--archivio CARTELLA|URI]

#include "archive/informazioni.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "finestre/applicazione.h"
#include "finestre/impostazioni_programma.h"
#include "finestre/messaggi.h"
#include "ufficio/finestra_ufficio.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTextStream>

#include <memory>

namespace {

const qvr::Chiave<QString> ChiaveArchivio{"Archivio", QString()};

} // namespace

int main(int argc, char* argv[]) {
    // The help and the version need no screen.
    const auto programma =
        qvr::finestre::creaApplicazione(argc, argv, QStringLiteral("qvr-ufficio"));
    QCoreApplication& app = *programma;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finestra del responsabile dell'ufficio: postazioni, utenti, numerazione, "
                       "totem, la giornata, l'archivio e le statistiche.\n\n") +
        qvr::informazioni::testoLicenza());
    parser.addHelpOption();
    const QCommandLineOption versione = qvr::informazioni::opzioneVersione();
    parser.addOption(versione);
    const QCommandLineOption archivio(
        QStringLiteral("archivio"),
        QStringLiteral("Cartella dell'archivio o indirizzo del server (postgresql://...); "
                       "sostituisce quello delle impostazioni."),
        QStringLiteral("cartella"));
    parser.addOption(archivio);
    parser.process(app);
    if (parser.isSet(versione)) {
        QTextStream(stdout) << qvr::informazioni::testoVersione(QStringLiteral("qvr-ufficio"));
        return 0;
    }

    // The archive last opened is kept in ~/.config/qvr/qvr-ufficio.ini.
    qvr::FileImpostazioni impostazioni(QStringLiteral("qvr-ufficio"));
    QString scelto =
        parser.isSet(archivio) ? parser.value(archivio) : impostazioni.valore(ChiaveArchivio);
    // A folder given relative to where the program was started is remembered whole.
    if (parser.isSet(archivio) && !qvr::eServer(scelto) && !scelto.contains(u'\\') &&
        QDir::isRelativePath(scelto))
        scelto = QDir(scelto).absolutePath();
    qvr::ufficio::FinestraUfficio w(scelto);
    const auto ricorda = [&] {
        if (!w.aperto() || w.archivio() == impostazioni.valore(ChiaveArchivio))
            return;
        try {
            impostazioni.preparaPrivato();
            impostazioni.imposta(ChiaveArchivio, w.archivio());
            impostazioni.scrivi();
        } catch (const qvr::ErroreQvr& e) {
            qvr::messaggi::mostraErrore(&w, QStringLiteral("Impostazioni non salvate"), e);
        }
    };
    ricorda();
    QObject::connect(&w, &qvr::ufficio::FinestraUfficio::aggiornata, &w, ricorda);
    w.show();
    const int esito = app.exec();
    qvr::server::chiudiConnessioni();
    return esito;
}
