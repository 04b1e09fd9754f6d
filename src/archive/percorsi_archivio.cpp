#include "archive/percorsi_archivio.h"

namespace qvr {

bool eServer(const QString& cartella) {
    // The scheme in any case, as URIs allow: no folder of an office is named like one.
    return cartella.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           cartella.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString unisciPercorso(const QString& cartella, const QString& nome) {
    return cartella + QLatin1Char('\\') + nome;
}

QString percorsoNativo(const QString& testo) {
    if (eServer(testo))
        return testo;
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
