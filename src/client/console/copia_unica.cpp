#include "console/copia_unica.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace qvr {

namespace {
QString& percorsoScelto() {
    static QString percorso;
    return percorso;
}

#ifdef Q_OS_LINUX
// The address of the abstract name: a NUL, then the name (a long one by its hash).
socklen_t indirizzo(const QString& nome, sockaddr_un* a) {
    std::memset(a, 0, sizeof(*a));
    a->sun_family = AF_UNIX;
    QByteArray byte = nome.toUtf8();
    if (byte.size() > qsizetype(sizeof(a->sun_path)) - 1)
        byte = "qvr-client-" + QCryptographicHash::hash(byte, QCryptographicHash::Sha1).toHex();
    std::memcpy(a->sun_path + 1, byte.constData(), size_t(byte.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(byte.size()));
}

// The program a process runs: its executable when we may read it, else its own short name.
QString programmaDi(pid_t pid, bool* eseguibile) {
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    const QString exe = QFile::symLinkTarget(base + QStringLiteral("exe"));
    *eseguibile = !exe.isEmpty();
    if (!exe.isEmpty())
        return exe;
    QFile comm(base + QStringLiteral("comm"));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll().trimmed());
    return {};
}
#endif
} // namespace

QString CopiaUnica::percorsoPredefinito() {
    if (!percorsoScelto().isEmpty())
        return percorsoScelto();
    const QString ambiente = qEnvironmentVariable("QVR_COPIA_UNICA");
    if (!ambiente.isEmpty())
        return ambiente;
#if defined(Q_OS_LINUX)
    return QStringLiteral("qvr-client");
#elif defined(Q_OS_WIN)
    return QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData", QStringLiteral("C:/"))) +
           QStringLiteral("/qvr-client.lock");
#else
    return QStringLiteral("/tmp/qvr-client.lock");
#endif
}

void CopiaUnica::impostaPercorsoPredefinito(const QString& percorso) {
    percorsoScelto() = percorso;
}

CopiaUnica::CopiaUnica(const QString& percorso) : m_nome(percorso) {
#ifndef Q_OS_LINUX
    m_blocco = std::make_unique<QLockFile>(percorso);
    // Only a dead owner makes a lock stale, never its age: a copy may run for months.
    m_blocco->setStaleLockTime(0);
#endif
}

CopiaUnica::~CopiaUnica() {
    rilascia();
}

bool CopiaUnica::acquisisci() {
    if (m_acquisita)
        return true;
    m_detentoreECopia = true;
    m_detentore.clear();
#ifdef Q_OS_LINUX
    const int presa = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (presa < 0) {
        std::fprintf(stderr, "qvr: controllo della copia unica non eseguito (%s)\n",
                     std::strerror(errno));
        return true;
    }
    sockaddr_un a;
    const socklen_t lunghezza = indirizzo(m_nome, &a);
    if (::bind(presa, reinterpret_cast<sockaddr*>(&a), lunghezza) == 0 &&
        ::listen(presa, 16) == 0) {
        m_presa = presa;
        m_acquisita = true;
        return true;
    }
    const int codice = errno;
    ::close(presa);
    if (codice != EADDRINUSE) {
        std::fprintf(stderr, "qvr: controllo della copia unica non eseguito (%s)\n",
                     std::strerror(codice));
        return true;
    }
    // Taken: ask the kernel who holds it.
    // Never waits: a holder that does not take connections fills its queue, and then the
    // connect fails at once.
    const int sonda = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ucred credenziali{};
    socklen_t dimensione = sizeof(credenziali);
    if (sonda >= 0 && ::connect(sonda, reinterpret_cast<sockaddr*>(&a), lunghezza) == 0 &&
        ::getsockopt(sonda, SOL_SOCKET, SO_PEERCRED, &credenziali, &dimensione) == 0 &&
        credenziali.pid > 0) {
        bool eseguibile = false;
        bool nostro = false;
        const QString suo = programmaDi(credenziali.pid, &eseguibile);
        const QString mio = programmaDi(::getpid(), &nostro);
        m_detentoreECopia = credenziali.pid == ::getpid() || (!suo.isEmpty() && suo == mio);
        if (!eseguibile && !suo.isEmpty() && nostro)
            m_detentoreECopia = suo == QFileInfo(mio).fileName().left(15);
        m_detentore = QStringLiteral("processo %1 (%2) dell'utente %3")
                          .arg(credenziali.pid)
                          .arg(suo.isEmpty() ? QStringLiteral("?") : suo)
                          .arg(credenziali.uid);
    }
    if (sonda >= 0)
        ::close(sonda);
    return false;
#else
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
#endif
}

void CopiaUnica::rilascia() {
    if (!m_acquisita)
        return;
    m_acquisita = false;
#ifdef Q_OS_LINUX
    ::close(m_presa);
    m_presa = -1;
#else
    m_blocco->unlock();
#endif
}

} // namespace qvr
