#include "app/avvio.h"

#include "app/gestione.h"
#include "launcher/apertura.h"

#include <QApplication>

namespace qvr {

void impostaApplicazione(QApplication& applicazione) {
    applicazione.setApplicationName(QStringLiteral("qvr-client"));
    applicazione.setApplicationDisplayName(QStringLiteral("QVR Client"));
    applicazione.setOrganizationName(QStringLiteral("QVR"));
    applicazione.setApplicationVersion(QStringLiteral("3.7.2"));
}

bool apriPrimaFinestra(Apertura& apertura) {
    if (!eseguiGestito([&apertura] { apertura.Carica(); }))
        return false;
    apertura.show();
    return true;
}

} // namespace qvr
