#include "finestre/applicazione.h"

#include "archive/informazioni.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qvr::finestre {

std::unique_ptr<QCoreApplication> creaApplicazione(int& argc, char** argv, const QString& nome,
                                                   const QStringList& senzaSchermo) {
    bool soloTesto = informazioni::soloInformazioni(argc, argv);
    for (int i = 1; i < argc && !soloTesto; ++i)
        soloTesto = senzaSchermo.contains(QString::fromLocal8Bit(argv[i]));
    std::unique_ptr<QCoreApplication> programma;
    if (soloTesto)
        programma = std::make_unique<QCoreApplication>(argc, argv);
    else
        programma = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("qvr"));
    QCoreApplication::setApplicationName(nome);
    traduciToolkit(*programma);
    return programma;
}

void traduciToolkit(QCoreApplication& applicazione) {
    auto* traduzione = new QTranslator(&applicazione);
    if (traduzione->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(traduzione);
    else
        delete traduzione;
}

} // namespace qvr::finestre
