// qvr-tabellone: the waiting-room board. Shows and announces every call the stations publish
// in the archive folder; it only reads the archive.
//
//   qvr-tabellone [--finestra] [--archivio CARTELLA] [--registro FILE]
//   qvr-tabellone --wav FILE NUMERO POSTAZIONE
#include "archive/informazioni.h"
#include "archive/nomi.h"
#include "finestre/applicazione.h"
#include "tabellone/finestra.h"
#include "tabellone/voce.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTextStream>

#include <memory>

using namespace qvr::tabellone;

namespace {

// --wav FILE NUMERO POSTAZIONE: one announcement into a WAV file. The exit status: 0 written,
// 1 not written, 2 a wrong use.
int scriviAnnuncio(const QString& file, const QStringList& a) {
    QTextStream err(stderr);
    bool okN = false, okP = false;
    const int numero = a.size() == 2 ? a[0].toInt(&okN) : 0;
    const int postazione = a.size() == 2 ? a[1].toInt(&okP) : 0;
    if (!okN || !okP || numero < 1 || postazione < 1 || postazione > qvr::nomi::NumeroPostazioni) {
        err << "Uso: qvr-tabellone --wav FILE NUMERO POSTAZIONE (postazione da 1 a "
            << qvr::nomi::NumeroPostazioni << ")\n";
        return 2;
    }
    const QString motivo = Voce::prepara();
    if (!motivo.isEmpty()) {
        err << motivo << "\n";
        return 1;
    }
    QString errore;
    if (!scriviWav(file, Voce::annuncio(postazione, numero), &errore)) {
        err << "Impossibile scrivere " << file << ": " << errore << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Rendering a WAV, the help and the version need no screen.
    const auto programma = qvr::finestre::creaApplicazione(
        argc, argv, QStringLiteral("qvr-tabellone"), {QStringLiteral("--wav")});
    QCoreApplication& app = *programma;

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Tabellone della sala d'attesa\n\n") +
                                qvr::informazioni::testoLicenza());
    p.addHelpOption();
    const QCommandLineOption versione = qvr::informazioni::opzioneVersione();
    p.addOption(versione);
    const QCommandLineOption finestra(
        QStringLiteral("finestra"), QStringLiteral("In una finestra invece che a schermo intero."));
    const QCommandLineOption archivio(
        QStringLiteral("archivio"),
        QStringLiteral("Cartella dell'archivio (al posto di quella delle impostazioni)."),
        QStringLiteral("CARTELLA"));
    const QCommandLineOption registro(QStringLiteral("registro"),
                                      QStringLiteral("Aggiunge ogni chiamata mostrata al file."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption wav(
        QStringLiteral("wav"),
        QStringLiteral("Scrive l'annuncio di NUMERO e POSTAZIONE nel file WAV ed esce."),
        QStringLiteral("FILE"));
    p.addOptions({finestra, archivio, registro, wav});
    p.addPositionalArgument(QStringLiteral("NUMERO POSTAZIONE"), QStringLiteral("Con --wav."));
    p.process(app);
    if (p.isSet(versione)) {
        QTextStream(stdout) << qvr::informazioni::testoVersione(QStringLiteral("qvr-tabellone"));
        return 0;
    }

    QTextStream err(stderr);
    if (p.isSet(wav))
        return scriviAnnuncio(p.value(wav), p.positionalArguments());

    QList<qvr::Problema> problemi;
    Impostazioni imp = Impostazioni::carica(&problemi);
    const QString erroreImpostazioni = qvr::testiProblemi(problemi).join(QLatin1Char('\n'));
    if (p.isSet(archivio))
        imp.archivio = p.value(archivio);
    FinestraTabellone f(imp, p.value(registro));
    if (!erroreImpostazioni.isEmpty()) {
        err << erroreImpostazioni << "\n";
        f.mostraAvviso(erroreImpostazioni);
    }
    if (p.isSet(finestra)) {
        f.resize(1280, 720);
        f.show();
    } else {
        if (const QScreen* schermo = QGuiApplication::primaryScreen())
            f.setGeometry(schermo->geometry());
        f.showFullScreen();
    }
    f.avvia();
    return app.exec();
}
