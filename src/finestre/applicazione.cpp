#include "finestre/applicazione.h"

#include "archive/informazioni.h"

#include <QApplication>

namespace qvr::finestre {

std::unique_ptr<QCoreApplication> creaApplicazione(int& argc, char** argv, const QString& nome) {
    std::unique_ptr<QCoreApplication> programma;
    if (informazioni::soloInformazioni(argc, argv))
        programma = std::make_unique<QCoreApplication>(argc, argv);
    else
        programma = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("qvr"));
    QCoreApplication::setApplicationName(nome);
    return programma;
}

} // namespace qvr::finestre
