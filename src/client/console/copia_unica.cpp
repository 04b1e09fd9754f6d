#include "console/copia_unica.h"

#include <QDir>
#include <QLockFile>

#include <cstdio>

namespace qvr {

namespace {
QString& percorsoScelto() {
    static QString percorso;
    return percorso;
}
} // namespace

QString CopiaUnica::percorsoPredefinito() {
    if (!percorsoScelto().isEmpty())
        return percorsoScelto();
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData", QStringLiteral("C:/"))) +
           QStringLiteral("/qvr-client.lock");
#else
    return QStringLiteral("/tmp/qvr-client.lock");
#endif
}

void CopiaUnica::impostaPercorsoPredefinito(const QString& percorso) {
    percorsoScelto() = percorso;
}

CopiaUnica::CopiaUnica(const QString& percorso) : m_blocco(std::make_unique<QLockFile>(percorso)) {
    // Only a dead owner makes a lock stale, never its age: a copy may run for months.
    m_blocco->setStaleLockTime(0);
}

CopiaUnica::~CopiaUnica() {
    rilascia();
}

bool CopiaUnica::acquisisci() {
    if (m_acquisita)
        return true;
    if (m_blocco->tryLock(0)) {
        m_acquisita = true;
        return true;
    }
    if (m_blocco->error() == QLockFile::LockFailedError)
        return false;
    // The lock could not be created or read at all: the check is impossible, the start goes on.
    std::fprintf(stderr, "qvr: controllo della copia unica non eseguito (%s)\n",
                 qPrintable(m_blocco->fileName()));
    return true;
}

void CopiaUnica::rilascia() {
    if (m_acquisita) {
        m_blocco->unlock();
        m_acquisita = false;
    }
}

} // namespace qvr
