#include "archive/contatore.h"

#include "archive/errori.h"
#include "archive/motore.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QByteArray>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qvr::contatore {

namespace {

std::atomic<int> g_limiteAttesa{5000};

// The wait for a lock another station holds, the same for the file and for the server's row:
// pauses that grow from 1 ms to 50 ms, up to limiteAttesa(); past it, error 70 on `percorso`.
class AttesaBlocco {
public:
    explicit AttesaBlocco(const QString& percorso) : m_percorso(percorso) {}
    void ancora() {
        const auto trascorso = Orologio::now() - m_inizio;
        if (trascorso >= m_limite)
            throw ErroreQvr(Err::AutorizzazioneNegata, m_percorso);
        const auto resto = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_limite - trascorso + std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::min(m_pausa, resto));
        m_pausa = std::min(m_pausa * 2, std::chrono::milliseconds(50));
    }

private:
    using Orologio = std::chrono::steady_clock;
    QString m_percorso;
    Orologio::time_point m_inizio = Orologio::now();
    std::chrono::milliseconds m_limite{limiteAttesa()};
    std::chrono::milliseconds m_pausa{1};
};

// Only the beginning of the file is read: the first item of a sound file is a few characters, and
// a huge file must not be loaded whole.
constexpr qint64 LimitePrefisso = 4096;

// Lettura: read only (a read-only share may still be read); Scrittura: rewrite of an existing
// file; Creazione: rewrite, creating a missing file.
using Accesso = ContatoreMotore::Accesso;

bool cartellaEsiste(const QByteArray& percorsoNativo) {
    QByteArray cartella = percorsoNativo;
    const qsizetype barra = cartella.lastIndexOf('/');
    if (barra < 0)
        return true; // the working directory
    cartella.truncate(barra == 0 ? 1 : barra);
#ifndef _WIN32
    struct stat st {};
    return ::stat(cartella.constData(), &st) == 0 && S_ISDIR(st.st_mode);
#else
    return true;
#endif
}

#ifndef _WIN32

// The counter file, open and locked for the life of the object. The lock is taken on the file
// itself (flock: whole file, kept across other descriptors of the process, carried over NFS and
// SMB) and dropped by the close.
class FileBloccato : public ContatoreMotore {
public:
    FileBloccato(const QString& percorso, Accesso accesso) : m_percorso(percorso) {
        const QByteArray nome = QFile::encodeName(percorso);
        // Never through a link planted in the archive folder, never blocked by a FIFO.
        int flag = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        if (accesso == Accesso::Creazione)
            flag |= O_CREAT;
        bool condiviso = false;
        m_fd = apri(nome, flag);
        if (m_fd < 0 && accesso == Accesso::Lettura && (errno == EACCES || errno == EROFS)) {
            m_fd = apri(nome, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            condiviso = true; // an exclusive flock on a read-only descriptor fails over NFS
        }
        if (m_fd < 0 && errno == ELOOP)
            throw ErroreQvr(Err::AccessoNegato,
                            percorso + QStringLiteral(": è un collegamento simbolico"));
        if (m_fd < 0)
            throw ErroreQvr(erroreApertura(nome, errno), percorso);
        // Only a regular file is the counter: a FIFO, a device or a folder is refused before
        // anything is read or written (the open above did not wait on a FIFO).
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            throw ErroreQvr(Err::AccessoNegato,
                            percorso + QStringLiteral(": non è un file regolare"));
        }
        const int stato = ::fcntl(m_fd, F_GETFL);
        if (stato >= 0)
            (void)::fcntl(m_fd, F_SETFL, stato & ~O_NONBLOCK);
        try {
            blocca(condiviso ? LOCK_SH : LOCK_EX);
        } catch (...) {
            ::close(m_fd); // no destructor runs for a constructor that throws
            m_fd = -1;
            throw;
        }
    }

    ~FileBloccato() override {
        if (m_fd >= 0)
            ::close(m_fd); // the close drops the lock
    }

    FileBloccato(const FileBloccato&) = delete;
    FileBloccato& operator=(const FileBloccato&) = delete;

    // The first bytes of the file: at most LimitePrefisso, and one more when the file is longer.
    QByteArray prefisso() override {
        constexpr qint64 massimo = LimitePrefisso + 1;
        QByteArray dati(massimo, Qt::Uninitialized);
        qint64 letti = 0;
        while (letti < massimo) {
            const ssize_t n =
                ::pread(m_fd, dati.data() + letti, size_t(massimo - letti), off_t(letti));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw ErroreQvr(Err::ErroreIO, m_percorso);
            if (n == 0)
                break;
            letti += n;
        }
        dati.truncate(letti);
        return dati;
    }

    // Replaces the content with `riga`: written over the old content first, the length cut only
    // afterwards, then synced. Killed at any instant, the file starts with the old or the new
    // line, never with nothing.
    void riscrivi(const QByteArray& riga) override {
        qint64 scritti = 0;
        while (scritti < riga.size()) {
            const ssize_t n = ::pwrite(m_fd, riga.constData() + scritti,
                                       size_t(riga.size() - scritti), off_t(scritti));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw ErroreQvr(numeroDaErrno(n < 0 ? errno : ENOSPC), m_percorso);
            scritti += n;
        }
        while (::ftruncate(m_fd, off_t(riga.size())) != 0) {
            if (errno != EINTR)
                throw ErroreQvr(numeroDaErrno(errno), m_percorso);
        }
        while (::fdatasync(m_fd) != 0) {
            if (errno != EINTR)
                throw ErroreQvr(numeroDaErrno(errno), m_percorso);
        }
    }

    // The close, when the object goes, drops the lock.
    void fine() override {}

private:
    static int apri(const QByteArray& nome, int flag) {
        int fd;
        do {
            fd = ::open(nome.constData(), flag, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    static int erroreApertura(const QByteArray& nome, int codice) {
        if (codice == ENOENT && cartellaEsiste(nome))
            return Err::FileNonTrovato;
        return numeroDaErrno(codice);
    }

    // Takes the lock; while another process holds it, tries again after short pauses that grow
    // from 1 ms to 50 ms, up to limiteAttesa(); past it, error 70.
    void blocca(int tipo) {
        AttesaBlocco attesa(m_percorso);
        for (;;) {
            if (::flock(m_fd, tipo | LOCK_NB) == 0)
                return;
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK) {
                const int codice = errno;
                throw ErroreQvr(Err::ErroreIO,
                                QStringLiteral("%1: blocco del file non disponibile (%2)")
                                    .arg(m_percorso)
                                    .arg(codice));
            }
            attesa.ancora();
        }
    }

    QString m_percorso;
    int m_fd = -1;
};

#else
#error "The counter file's exclusive open is written for POSIX systems only"
#endif // !_WIN32

// The counter of a server archive: the first row of qvr.nr4all, locked for the life of the
// object by a transaction that reads it with FOR UPDATE NOWAIT. A row held by another station
// (SQLSTATE 55P03) is tried again exactly like a held file, up to limiteAttesa(), then error 70.
// The transaction ends with fine() (committed) or, without it, rolled back by the destructor.
class RigaBloccata : public ContatoreMotore {
public:
    RigaBloccata(const server::Posizione& pos, Accesso accesso) : m_accesso(accesso) {
        m_percorso = server::uriPerMessaggi(pos.uri) + QLatin1Char('\\') + pos.file;
        m_tabella = server::tabella(server::SchemaContatore, server::TabellaContatore);
        m_conn = std::make_unique<server::Connessione>(pos.uri, server::Ambito::Contatore);
        blocca();
    }
    ~RigaBloccata() override {
        if (m_conn && m_inTransazione)
            (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
    }
    RigaBloccata(const RigaBloccata&) = delete;
    RigaBloccata& operator=(const RigaBloccata&) = delete;

    QByteArray prefisso() override { return m_valore.left(LimitePrefisso + 1); }

    void riscrivi(const QByteArray& riga) override {
        const QString testo = QString::fromLatin1(riga);
        const std::optional<QSqlError> e =
            m_riga
                ? m_conn->esegui(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = %4")
                                     .arg(m_tabella, server::identificatore(server::CampoValore),
                                          server::identificatore(server::ColonnaChiave))
                                     .arg(*m_riga),
                                 {testo})
                : m_conn->esegui(QStringLiteral("INSERT INTO %1 (%2) VALUES (?)")
                                     .arg(m_tabella, server::identificatore(server::CampoValore)),
                                 {testo});
        if (e)
            fallisci(*e);
        m_valore = riga;
    }

    // Commits: the value written is there for everybody, the row free again.
    void fine() override {
        if (const auto e = m_conn->esegui(QStringLiteral("COMMIT")))
            fallisci(*e);
        m_inTransazione = false;
    }

private:
    [[noreturn]] void fallisci(const QSqlError& e) {
        const ErroreQvr errore = m_conn->errore(e, {}, m_percorso);
        if (m_inTransazione)
            (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
        m_inTransazione = false;
        throw errore;
    }

    void blocca() {
        AttesaBlocco attesa(m_percorso);
        const QString sql = QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1 LIMIT 1 "
                                           "FOR UPDATE NOWAIT")
                                .arg(server::identificatore(server::ColonnaChiave),
                                     server::identificatore(server::CampoValore), m_tabella);
        for (int tentativo = 1;; ++tentativo) {
            if (const auto e = m_conn->esegui(QStringLiteral("BEGIN")))
                fallisci(*e);
            m_inTransazione = true;
            QSqlQuery q(m_conn->db());
            q.setForwardOnly(true);
            const std::optional<QSqlError> e = m_conn->esegui(q, sql);
            if (!e) {
                if (q.next()) {
                    m_riga = q.value(0).toLongLong();
                    const QVariant v = q.value(1);
                    m_valore = v.isNull() ? QByteArray() : v.toString().toLatin1();
                } else if (m_accesso != Accesso::Creazione) {
                    fallisci(ErroreQvr(Err::FileNonTrovato,
                                       m_percorso + QStringLiteral(": nessuna riga in ") +
                                           server::TabellaContatore));
                }
                return;
            }
            const bool ritenta =
                server::rigaBloccata(*e) ||
                (server::daRitentare(*e) && tentativo < server::TentativiTransazione);
            if (!ritenta)
                fallisci(*e);
            q = QSqlQuery();
            (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
            m_inTransazione = false;
            attesa.ancora();
        }
    }

    // Throws the error for a failure that is no SQL failure.
    [[noreturn]] void fallisci(const ErroreQvr& errore) {
        if (m_inTransazione)
            (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
        m_inTransazione = false;
        throw errore;
    }

    Accesso m_accesso;
    QString m_percorso;
    QString m_tabella;
    std::unique_ptr<server::Connessione> m_conn;
    bool m_inTransazione = false;
    std::optional<qint64> m_riga;
    QByteArray m_valore;
};

// A held counter of the engine of its path: the file or the server's row.
class Contatore {
public:
    Contatore(const QString& percorso, Accesso accesso)
        : m_motore(MotoreArchivio::di(percorso)->contatore(accesso)) {}
    QByteArray prefisso() { return m_motore->prefisso(); }
    void riscrivi(const QByteArray& riga) { m_motore->riscrivi(riga); }
    // Ends the open: the file is closed, the row's transaction committed.
    void fine() {
        m_motore->fine();
        m_motore.reset();
    }

private:
    std::unique_ptr<ContatoreMotore> m_motore;
};

bool blanco(char c) {
    return c == ' ' || c == '\t';
}

// The first item of the file: up to the first comma, CR or LF, without blanks around it. An
// empty file or an empty first item is an end of file (62); an item that does not end within
// the bytes read is too long for any number (6).
QByteArray primoElemento(const QByteArray& prefisso, const QString& percorso) {
    qsizetype fine = 0;
    while (fine < prefisso.size() && prefisso[fine] != ',' && prefisso[fine] != '\r' &&
           prefisso[fine] != '\n')
        ++fine;
    if (fine >= LimitePrefisso)
        throw ErroreQvr(Err::Overflow, percorso);
    qsizetype inizio = 0;
    while (inizio < fine && blanco(prefisso[inizio]))
        ++inizio;
    while (fine > inizio && blanco(prefisso[fine - 1]))
        --fine;
    if (fine == inizio)
        throw ErroreQvr(Err::FineFile, percorso);
    return prefisso.mid(inizio, fine - inizio);
}

// The item as a Long: an optional sign and decimal digits. Anything else is 13; a number that
// does not fit 32 bits (also a run of digits longer than the bytes read) is 6.
qint32 comeLong(const QByteArray& elemento, const QString& percorso) {
    qsizetype i = 0;
    bool negativo = false;
    if (elemento[0] == '+' || elemento[0] == '-') {
        negativo = elemento[0] == '-';
        i = 1;
    }
    if (i == elemento.size())
        throw ErroreQvr(Err::TipoNonCorrispondente, percorso);
    qint64 valore = 0;
    bool oltre = false;
    for (; i < elemento.size(); ++i) {
        const char c = elemento[i];
        if (c < '0' || c > '9')
            throw ErroreQvr(Err::TipoNonCorrispondente, percorso);
        if (!oltre) {
            valore = valore * 10 + (c - '0');
            oltre = valore > qint64(INT_MAX) + 1;
        }
    }
    if (negativo)
        valore = -valore;
    if (oltre || valore > INT_MAX || valore < INT_MIN)
        throw ErroreQvr(Err::Overflow, percorso);
    return qint32(valore);
}

QByteArray leggiElemento(Contatore& file, const QString& percorso) {
    return primoElemento(file.prefisso(), percorso);
}

} // namespace

} // namespace qvr::contatore

namespace qvr {

std::unique_ptr<ContatoreMotore> MotoreCartella::contatore(ContatoreMotore::Accesso accesso) const {
    return std::make_unique<contatore::FileBloccato>(m_testo, accesso);
}

std::unique_ptr<ContatoreMotore> MotoreServer::contatore(ContatoreMotore::Accesso accesso) const {
    return std::make_unique<contatore::RigaBloccata>(*server::posizione(m_testo), accesso);
}

} // namespace qvr

namespace qvr::contatore {

void impostaLimiteAttesa(int millisecondi) {
    g_limiteAttesa = std::max(0, millisecondi);
}

int limiteAttesa() {
    return g_limiteAttesa;
}

QString leggiTesto(const QString& percorso) {
    QByteArray elemento;
    {
        Contatore file(percorso, Accesso::Lettura);
        elemento = leggiElemento(file, percorso);
        file.fine();
    }
    if (elemento.contains('\0'))
        throw ErroreQvr(Err::TipoNonCorrispondente, percorso);
    return QString::fromLatin1(elemento);
}

qint32 leggiLong(const QString& percorso) {
    QByteArray elemento;
    {
        Contatore file(percorso, Accesso::Lettura);
        elemento = leggiElemento(file, percorso);
        file.fine();
    }
    return comeLong(elemento, percorso);
}

void scriviNumero(const QString& percorso, qint32 numero) {
    Contatore file(percorso, Accesso::Scrittura);
    file.riscrivi(QByteArray::number(numero) + QByteArray("\r\n"));
    file.fine();
}

void scriviNumeroCreando(const QString& percorso, qint32 numero) {
    Contatore file(percorso, Accesso::Creazione);
    file.riscrivi(QByteArray::number(numero) + QByteArray("\r\n"));
    file.fine();
}

void scriviImpostazione(const QString& percorso, qint32 numero, qint32 postazione) {
    Contatore file(percorso, Accesso::Creazione);
    file.riscrivi(QByteArray::number(numero) + ',' + '1' + ',' + QByteArray::number(postazione) +
                  QByteArray("\r\n"));
    file.fine();
}

qint32 preleva(const QString& percorso, bool dopo99, qint32* letto) {
    return *prelevaSe(
        percorso, dopo99, [](qint32) { return true; }, letto);
}

std::optional<qint32> prelevaSe(const QString& percorso, bool dopo99,
                                const std::function<bool(qint32)>& ammesso, qint32* letto) {
    Contatore file(percorso, Accesso::Scrittura);
    qint32 corrente = comeLong(leggiElemento(file, percorso), percorso);
    if (!ammesso(corrente))
        return std::nullopt; // the file closed, the row's transaction rolled back: nothing written
    if (dopo99 && corrente == 99)
        corrente = 0;
    if (corrente == INT_MAX)
        throw ErroreQvr(Err::Overflow, percorso);
    const qint32 nuovo = corrente + 1;
    file.riscrivi(QByteArray::number(nuovo) + QByteArray("\r\n"));
    file.fine();
    if (letto)
        *letto = corrente;
    return nuovo;
}

} // namespace qvr::contatore
