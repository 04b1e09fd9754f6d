#include "finestre/impostazioni_programma.h"

#include "archive/errori.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvr {

QStringList testiProblemi(const QList<Problema>& problemi) {
    QStringList testi;
    for (const Problema& p : problemi)
        testi << p.testo;
    return testi;
}

QList<Problema> senzaProblemiDi(QList<Problema> problemi, const QString& chiave) {
    problemi.removeIf([&](const Problema& p) { return p.chiave == chiave; });
    return problemi;
}

FileImpostazioni::FileImpostazioni(const QString& programma)
    : m_ini(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qvr"), programma) {}

int FileImpostazioni::numeroErroreLettura() const {
    switch (m_ini.status()) {
    case QSettings::NoError:
        return 0;
    case QSettings::AccessError:
        return Err::AccessoNegato;
    case QSettings::FormatError:
        break;
    }
    return Err::TipoNonCorrispondente;
}

void FileImpostazioni::preparaPrivato() {
    const QString file = percorso();
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        throw ErroreQvr(Err::PercorsoNonTrovato, QFileInfo(file).absolutePath());
    const QByteArray nome = QFile::encodeName(file);
    struct stat st {};
    if (::lstat(nome.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        throw ErroreQvr(Err::AccessoNegato, file + QStringLiteral(": non è un file"));
    // O_NONBLOCK: whatever took the file's place since, a FIFO does not hold the program.
    const int fd = ::open(nome.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        throw ErroreQvr(numeroDaErrno(errno), file);
    const int esito = ::fchmod(fd, 0600);
    const int codice = errno;
    ::close(fd);
    if (esito != 0)
        throw ErroreQvr(numeroDaErrno(codice), file);
}

void FileImpostazioni::scrivi() {
    m_ini.sync();
    if (m_ini.status() != QSettings::NoError)
        throw ErroreQvr(m_ini.status() == QSettings::AccessError ? Err::AccessoNegato
                                                                 : Err::ErroreIO,
                        percorso());
}

} // namespace qvr
