// qvr-totem: the ticket kiosk at the entrance.
//   qvr-totem [--finestra] [--archivio CARTELLA] [--stampante NOME]
//   qvr-totem --reimposta-pin      (on the PC's terminal: a new PIN for the settings)

#include "archive/informazioni.h"
#include "finestre/applicazione.h"
#include "totem/chiosco.h"
#include "totem/finestra_totem.h"
#include "totem/impostazioni_totem.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <memory>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Without a display: the administrator's recovery of a forgotten or damaged PIN.
    if (argc == 2 && std::strcmp(argv[1], "--reimposta-pin") == 0) {
        QCoreApplication app(argc, argv);
        return qvr::totem::reimpostaPinDaTerminale();
    }
    // The help and the version need no screen.
    const auto programma = qvr::finestre::creaApplicazione(argc, argv, QStringLiteral("qvr-totem"));
    QCoreApplication& app = *programma;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Totem dei biglietti del sistema di code.\n\n") +
        qvr::informazioni::testoLicenza());
    parser.addHelpOption();
    const QCommandLineOption versione = qvr::informazioni::opzioneVersione();
    parser.addOption(versione);
    const QCommandLineOption finestra(
        QStringLiteral("finestra"), QStringLiteral("In una finestra invece che a tutto schermo."));
    const QCommandLineOption archivio(QStringLiteral("archivio"),
                                      QStringLiteral("Cartella dell'archivio (sostituisce "
                                                     "quella delle impostazioni)."),
                                      QStringLiteral("cartella"));
    const QCommandLineOption stampante(QStringLiteral("stampante"),
                                       QStringLiteral("Coda CUPS (sostituisce quella delle "
                                                      "impostazioni)."),
                                       QStringLiteral("nome"));
    const QCommandLineOption reimpostaPin(
        QStringLiteral("reimposta-pin"),
        QStringLiteral("Chiede sul terminale un nuovo PIN delle impostazioni (da solo)."));
    parser.addOptions({finestra, archivio, stampante, reimpostaPin});
    parser.process(app);
    if (parser.isSet(reimpostaPin)) {
        std::fputs("qvr-totem: --reimposta-pin va usato da solo\n", stderr);
        return 2;
    }
    if (parser.isSet(versione)) {
        QTextStream(stdout) << qvr::informazioni::testoVersione(QStringLiteral("qvr-totem"));
        return 0;
    }

    QList<qvr::Problema> problemi;
    qvr::totem::ImpostazioniTotem impostazioni = qvr::totem::ImpostazioniTotem::carica(&problemi);
    if (parser.isSet(archivio)) {
        impostazioni.cartella = parser.value(archivio);
        problemi = qvr::senzaProblemiDi(problemi, qvr::totem::chiavi::cartella.testo());
    }
    if (parser.isSet(stampante))
        impostazioni.stampante = parser.value(stampante);

    qvr::totem::Chiosco chiosco(impostazioni);
    qvr::totem::FinestraTotem w(&chiosco, qvr::testiProblemi(problemi));
    if (parser.isSet(finestra)) {
        w.resize(1024, 768);
        w.show();
    } else {
        w.showFullScreen();
    }
    return app.exec();
}
