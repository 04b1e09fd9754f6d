#include "app/avvio.h"

#include "app/gestione.h"
#include "launcher/apertura.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>

namespace qvr {

void impostaApplicazione(QApplication& applicazione) {
    // No display name: the window system would append it to every caption.
    applicazione.setApplicationName(QStringLiteral("qvr-client"));
    applicazione.setOrganizationName(QStringLiteral("QVR"));
    applicazione.setApplicationVersion(QStringLiteral("3.7.2"));

    // The standard buttons and dialogs of the toolkit speak Italian like the rest of the program
    // ("Sì", "Annulla"); without the translation file they stay in English.
    auto* traduzione = new QTranslator(&applicazione);
    if (traduzione->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(traduzione);
    else
        delete traduzione;
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

} // namespace qvr
