#include "archive/percorsi_archivio.h"

namespace qvr {

QString unisciPercorso(const QString& cartella, const QString& nome) {
    return cartella + QLatin1Char('\\') + nome;
}

QString percorsoNativo(const QString& testo) {
#ifdef Q_OS_WIN
    return testo;
#else
    QString nativo = testo;
    nativo.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return nativo;
#endif
}

QString fileArchivio(const QString& cartella, const QString& nome) {
    return percorsoNativo(unisciPercorso(cartella, nome));
}

} // namespace qvr
