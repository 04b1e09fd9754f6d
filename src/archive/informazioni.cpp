#include "archive/informazioni.h"

#include <QByteArray>
#include <QStringList>

namespace qvr::informazioni {

QString versione() {
    return QStringLiteral(QVR_VERSIONE);
}

QString testoLicenza() {
    return QStringLiteral(
        "Copyright (C) 2026 QVR maintainers.\n"
        "Licenza GPL-3.0-or-later: GNU General Public License, versione 3 o (a scelta)\n"
        "successiva <https://www.gnu.org/licenses/gpl-3.0.html>.\n"
        "Questo è software libero: lo si può modificare e ridistribuire alle condizioni della\n"
        "licenza. Non c'è alcuna garanzia, nei limiti permessi dalla legge.\n");
}

QString testoVersione(const QString& programma) {
    return programma + QLatin1Char(' ') + versione() + QLatin1Char('\n') + testoLicenza();
}

QCommandLineOption opzioneVersione() {
    return QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                              QStringLiteral("Mostra la versione e la licenza."));
}

bool soloInformazioni(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version")
            return true;
    }
    return false;
}

} // namespace qvr::informazioni
