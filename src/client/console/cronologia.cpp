#include "console/cronologia.h"

#include "app/gestione.h"
#include "archive/errori.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace qvr {

namespace {

qint64 minutoDi(const QDateTime& momento) {
    const qint64 ms = momento.toMSecsSinceEpoch();
    // Floor division: a time before the epoch still falls in its own minute.
    return ms >= 0 ? ms / 60000 : -((-ms + 59999) / 60000);
}

} // namespace

Cronologia::Cronologia(Orologio orologio) : m_orologio(std::move(orologio)) {}

Cronologia::~Cronologia() {
    chiudi();
}

QString Cronologia::nomeFile(int postazione) {
    return QStringLiteral("Cronologia-%1.txt").arg(postazione, 2, 10, QLatin1Char('0'));
}

void Cronologia::impostaOrologio(Orologio orologio) {
    m_orologio = std::move(orologio);
}

void Cronologia::apri(const QString& percorso) {
    chiudi();
    const QByteArray nome = QFile::encodeName(percorso);
    int fd;
    do {
        // Never through a link, never blocked by a FIFO: only a regular file is the history.
        fd = ::open(nome.constData(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == ELOOP || errno == ENXIO))
        throw ErroreQvr(Err::AccessoNegato, percorso + QStringLiteral(": non è un file regolare"));
    if (fd < 0)
        throw ErroreQvr(numeroDaErrno(errno), percorso);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ErroreQvr(Err::AccessoNegato, percorso + QStringLiteral(": non è un file regolare"));
    }
    const int stato = ::fcntl(fd, F_GETFL);
    if (stato >= 0)
        (void)::fcntl(fd, F_SETFL, stato & ~O_NONBLOCK);
    m_fd = fd;
    m_percorso = percorso;
    m_idChiusura = registraChiusura([this] { chiudi(); });
}

void Cronologia::chiudi() {
    if (m_idChiusura) {
        rimuoviChiusura(m_idChiusura);
        m_idChiusura = 0;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Cronologia::Voce Cronologia::registra(qint32 numero) {
    if (m_fd < 0)
        throw ErroreQvr(Err::ErroreIO, QStringLiteral("Cronologia non aperta"));
    if (m_contaChiamate == std::numeric_limits<qint32>::max())
        throw ErroreQvr(Err::Overflow, QStringLiteral("ContaChiamate"));

    const QDateTime adesso = m_orologio ? m_orologio() : QDateTime::currentDateTime();
    const qint64 minuto = minutoDi(adesso);

    Voce voce;
    voce.numero = QString::number(numero);
    voce.orario = adesso.toString(QStringLiteral("hh.mm"));
    voce.data = adesso.toString(QStringLiteral("dd/MM/yyyy"));
    voce.trascorsi = m_haPrecedente ? minuto - m_minutoPrecedente : 0;
    voce.riga = QStringLiteral("\"%1\",\"%2\",\"%3\",%4\r\n")
                    .arg(voce.numero, voce.orario, voce.data)
                    .arg(voce.trascorsi)
                    .toLatin1();

    scrivi(voce.riga);
    ++m_contaChiamate;
    m_haPrecedente = true;
    m_minutoPrecedente = minuto;
    return voce;
}

void Cronologia::scrivi(const QByteArray& riga) {
    // One write() for the whole line: with O_APPEND it lands at the end in one piece. When the
    // disk fills up half-way, the part already written is cut away again, so the file never
    // ends with a broken line.
    struct stat st {};
    const off_t lunghezzaPrima = ::fstat(m_fd, &st) == 0 ? st.st_size : -1;
    const char* dati = riga.constData();
    qsizetype resto = riga.size();
    while (resto > 0) {
        const ssize_t scritti = ::write(m_fd, dati, static_cast<size_t>(resto));
        if (scritti < 0) {
            if (errno == EINTR)
                continue;
            const int codice = errno;
            if (lunghezzaPrima >= 0 && resto < riga.size())
                (void)::ftruncate(m_fd, lunghezzaPrima);
            throw ErroreQvr(numeroDaErrno(codice), m_percorso);
        }
        dati += scritti;
        resto -= scritti;
    }
    int esito;
    do {
        esito = ::fdatasync(m_fd);
    } while (esito < 0 && errno == EINTR);
    if (esito < 0 && errno != EINVAL && errno != EROFS)
        throw ErroreQvr(numeroDaErrno(errno), m_percorso);
}

} // namespace qvr
