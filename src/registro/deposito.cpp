#include "registro/deposito.h"

#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "registro/registro_server.h"

#include <QFile>
#include <QSqlQuery>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <unistd.h>

namespace qvr::registro {

namespace {

const QString NomeFileBlocco = QStringLiteral("Registro.lock");

// The session advisory lock of the office's recorder (one per database, that is per archive).
constexpr qint64 ChiaveRegistratore = 0x71767200'0000'0001;

// An exclusive flock on Registro.lock in the archive folder: released by the kernel when the
// process ends, however it ends.
class BloccoFile : public Blocco {
public:
    explicit BloccoFile(const QString& cartella) : m_file(fileArchivio(cartella, NomeFileBlocco)) {}
    ~BloccoFile() override { rilascia(); }

    Esito prendi() override {
        if (m_fd < 0) {
            m_fd =
                ::open(QFile::encodeName(m_file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
            if (m_fd < 0)
                return fallito(errno);
        }
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return Esito::Preso;
        if (errno == EWOULDBLOCK)
            return Esito::Occupato;
        const int e = errno;
        rilascia();
        return fallito(e);
    }
    bool tenuto() override { return m_fd >= 0; }
    void rilascia() override {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    ErroreQvr errore() const override { return m_errore; }

private:
    Esito fallito(int e) {
        m_errore = ErroreQvr(numeroDaErrno(e), m_file, QString::fromLocal8Bit(std::strerror(e)));
        return Esito::Errore;
    }
    QString m_file;
    int m_fd = -1;
    ErroreQvr m_errore{0};
};

// pg_try_advisory_lock on a connection of the recorder's own, kept for its life: the server
// releases the lock when that session ends (the process stopped, killed, or its host gone).
class BloccoServer : public Blocco {
public:
    explicit BloccoServer(QString uri) : m_uri(std::move(uri)) {}
    ~BloccoServer() override { rilascia(); }

    Esito prendi() override {
        try {
            if (!m_conn)
                m_conn = std::make_unique<server::Connessione>(m_uri);
            QSqlQuery q(m_conn->db());
            q.setForwardOnly(true);
            if (const auto e = m_conn->esegui(
                    q, QStringLiteral("SELECT pg_try_advisory_lock(%1)").arg(ChiaveRegistratore))) {
                m_errore = m_conn->errore(*e, QString(), QStringLiteral("pg_try_advisory_lock"));
                rilascia();
                return Esito::Errore;
            }
            return q.next() && q.value(0).toBool() ? Esito::Preso : Esito::Occupato;
        } catch (const ErroreQvr& e) {
            m_errore = e;
            rilascia();
            return Esito::Errore;
        }
    }
    bool tenuto() override {
        if (!m_conn)
            return false;
        if (m_conn->esegui(QStringLiteral("SELECT 1"))) {
            rilascia();
            return false;
        }
        return true;
    }
    // The connection is closed, never handed back to the pool: the lock goes with its session.
    void rilascia() override {
        if (m_conn)
            m_conn->scarta();
        m_conn.reset();
    }
    ErroreQvr errore() const override { return m_errore; }

private:
    QString m_uri;
    std::unique_ptr<server::Connessione> m_conn;
    ErroreQvr m_errore{0};
};

} // namespace

std::unique_ptr<Deposito> deposito(const QString& archivio) {
    if (eServer(archivio))
        return std::make_unique<RegistroServer>(archivio);
    return std::make_unique<Registro>(fileArchivio(archivio, NomeFile));
}

std::unique_ptr<Blocco> blocco(const QString& archivio) {
    if (eServer(archivio))
        return std::make_unique<BloccoServer>(archivio);
    return std::make_unique<BloccoFile>(archivio);
}

qint64 copia(const QString& da, const QString& a) {
    if (!eServer(da) && !eServer(a))
        return Registro::copia(fileArchivio(da, NomeFile), fileArchivio(a, NomeFile));
    const auto sorgente = deposito(da);
    sorgente->apriLettura();
    const auto destinazione = deposito(a);
    destinazione->apriScrittura();
    if (destinazione->ultimo())
        throw ErroreRegistro(Err::ErroreArchivio,
                             destinazione->nome() +
                                 QStringLiteral(": contiene già degli eventi, non si sovrascrive"),
                             SQLITE_ERROR);
    // One snapshot of the source: everything up to its last event now, with its state.
    const std::optional<Evento> ultimo = sorgente->ultimo();
    const QString stato = sorgente->stato();
    std::vector<Evento> v;
    qint64 n = 0;
    auto scrivi = [&] {
        // aggiungi() numbers from the destination's highest: the source's numbers are kept by
        // writing them in order into an empty journal with no gaps in between.
        n += qint64(v.size());
        destinazione->aggiungi(v);
        v.clear();
    };
    if (ultimo) {
        sorgente->leggi(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
                        [&](const Evento& e) {
                            if (e.seq <= ultimo->seq)
                                v.push_back(e);
                            if (v.size() >= 5000)
                                scrivi();
                        });
        scrivi();
    }
    std::vector<Evento> nessuno;
    destinazione->aggiungi(nessuno, stato);
    // The check: the same events in both, field by field.
    std::vector<Evento> copiati = destinazione->tutti();
    qint64 i = 0;
    bool uguali = true;
    sorgente->leggi(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
                    [&](const Evento& e) {
                        if (!ultimo || e.seq > ultimo->seq)
                            return;
                        if (i >= qint64(copiati.size()) || !(copiati[size_t(i)] == e))
                            uguali = false;
                        ++i;
                    });
    if (!uguali || i != qint64(copiati.size()) || i != n || destinazione->stato() != stato)
        throw ErroreRegistro(Err::ErroreArchivio,
                             destinazione->nome() +
                                 QStringLiteral(": la copia del registro non corrisponde"),
                             SQLITE_ERROR);
    return n;
}

} // namespace qvr::registro
