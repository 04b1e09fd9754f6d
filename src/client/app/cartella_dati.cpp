#include "app/cartella_dati.h"

#include "archive/errori.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

#include <cerrno>
#include <unistd.h>

namespace qvr {

QString cartellaDatiUtente() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return base + QStringLiteral("/qvr-client");
}

QString entraInCartellaDati(const QString& cartellaProgramma, const QString& cartellaInstallata) {
    if (cartellaInstallata.isEmpty())
        return {};
    const QString programma = QFileInfo(cartellaProgramma).canonicalFilePath();
    const QString installata = QFileInfo(cartellaInstallata).canonicalFilePath();
    if (programma.isEmpty() || programma != installata)
        return {};

    const QString cartella = cartellaDatiUtente();
    if (cartella.isEmpty())
        throw ErroreQvr(Err::PercorsoNonTrovato, QStringLiteral("~/.local/share/qvr-client"));
    std::error_code errore;
    const std::filesystem::path percorso(cartella.toStdString());
    std::filesystem::create_directories(percorso, errore);
    if (errore)
        throw ErroreQvr(numeroDaErrno(errore.value()), cartella);
    // create_directories accepts an existing file of that name; entering it tells.
    if (::chdir(percorso.c_str()) != 0)
        throw ErroreQvr(numeroDaErrno(errno), cartella);
    return cartella;
}

} // namespace qvr
