#include "archive/motore.h"

#include "archive/percorsi_archivio.h"
#include "archive/server.h"

namespace qvr {

std::unique_ptr<MotoreArchivio> MotoreArchivio::di(const QString& testo) {
    if (eServer(testo))
        return std::make_unique<MotoreServer>(testo);
    return std::make_unique<MotoreCartella>(testo);
}

QString MotoreCartella::nomeFile(const QString& file) const {
    return fileArchivio(m_testo, file);
}

QString MotoreServer::nomeFile(const QString& file) const {
    return server::uriPerMessaggi(m_testo) + QLatin1Char('\\') + file;
}

} // namespace qvr
