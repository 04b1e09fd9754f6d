#include "archive/file_percorsi.h"

#include "archive/errori.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvr {

namespace {

// The reader never takes more than this from the file: the two values of a real settings file
// are a few hundred bytes, and a damaged file of any size must not fill the memory.
constexpr qint64 LimiteLettura = 64 * 1024;

bool fineRiga(char c) {
    return c == '\r' || c == '\n';
}
bool spazio(char c) {
    return c == ' ' || c == '\t';
}

// Which of the failures of an open tells the operator what is wrong with the path.
int erroreApertura(const QString& file, int codiceSistema) {
    const QFileInfo info(file);
    if (info.isDir())
        return Err::AccessoNegato;
    if (!info.absoluteDir().exists())
        return Err::PercorsoNonTrovato;
    if (codiceSistema == ENOTDIR)
        return Err::PercorsoNonTrovato;
    if (!info.exists())
        return Err::FileNonTrovato;
    if (codiceSistema == EACCES || codiceSistema == EPERM || codiceSistema == EROFS ||
        !info.isReadable())
        return Err::AccessoNegato;
    return Err::ErroreIO;
}

// Splits the bytes read into values, as the settings file is read: a value ends at a comma or at a
// line end (CR LF, LF or a lone CR); a value that begins with a double quote runs to the next
// double quote and may hold commas and line ends; whatever follows the closing quote up to the
// separator is passed over. Blanks before a value are skipped, blanks after an unquoted value are
// dropped.
class LettoreValori {
public:
    LettoreValori(const QByteArray& dati, bool troncato) : m_dati(dati), m_troncato(troncato) {}

    // The next value; throws 62 when the file ends before the value begins (or inside an open
    // quote), 6 when the value runs past what the reader takes from the file.
    QByteArray prossimo() {
        while (m_pos < m_dati.size() && spazio(m_dati[m_pos]))
            ++m_pos;
        if (m_pos >= m_dati.size())
            fineDati();
        QByteArray valore;
        if (m_dati[m_pos] == '"') {
            const qsizetype chiusura = m_dati.indexOf('"', m_pos + 1);
            if (chiusura < 0)
                fineDati();
            valore = m_dati.mid(m_pos + 1, chiusura - m_pos - 1);
            m_pos = chiusura + 1;
            while (m_pos < m_dati.size() && m_dati[m_pos] != ',' && !fineRiga(m_dati[m_pos]))
                ++m_pos;
        } else {
            const qsizetype inizio = m_pos;
            while (m_pos < m_dati.size() && m_dati[m_pos] != ',' && !fineRiga(m_dati[m_pos]))
                ++m_pos;
            if (m_pos >= m_dati.size() && m_troncato)
                fineDati();
            qsizetype fine = m_pos;
            while (fine > inizio && spazio(m_dati[fine - 1]))
                --fine;
            valore = m_dati.mid(inizio, fine - inizio);
        }
        saltaSeparatore();
        return valore;
    }

private:
    [[noreturn]] void fineDati() const {
        if (m_troncato)
            throw ErroreQvr(
                Err::Overflow,
                QStringLiteral("percorsi.txt: valore oltre %1 byte").arg(LimiteLettura));
        throw ErroreQvr(Err::FineFile, NomeFilePercorsi);
    }

    void saltaSeparatore() {
        if (m_pos >= m_dati.size())
            return;
        if (m_dati[m_pos] == '\r' && m_pos + 1 < m_dati.size() && m_dati[m_pos + 1] == '\n')
            ++m_pos;
        ++m_pos;
    }

    const QByteArray& m_dati;
    bool m_troncato;
    qsizetype m_pos = 0;
};

bool utf8Valido(const QByteArray& dati) {
    QStringDecoder decodifica(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    static_cast<void>(QString(decodifica(dati)));
    return !decodifica.hasError();
}

} // namespace

ValoriPercorsi leggiFilePercorsi(const QString& file) {
    QFile f;
    if (QFileInfo(file).isDir())
        throw ErroreQvr(Err::AccessoNegato, file);
    // Opened without waiting (a FIFO would hang the start) and read only when it is a regular
    // file.
    int fd;
    do {
        fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw ErroreQvr(erroreApertura(file, errno), file);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ErroreQvr(Err::AccessoNegato, file + QStringLiteral(": non è un file regolare"));
    }
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw ErroreQvr(Err::ErroreIO, file);
    }
    QByteArray dati = f.read(LimiteLettura);
    if (f.error() != QFileDevice::NoError)
        throw ErroreQvr(Err::ErroreIO, file);
    const bool troncato = !f.atEnd();
    f.close();

    // A byte order mark left by an editor is not part of the folder text.
    if (dati.startsWith("\xEF\xBB\xBF"))
        dati.remove(0, 3);

    LettoreValori lettore(dati, troncato);
    const QByteArray cartella = lettore.prossimo();
    const QByteArray postazione = lettore.prossimo();

    // A NUL is never part of a path or a station: the file is binary or damaged (for example saved
    // as UTF-16). Refused whole, so that no cut text ever reaches a path.
    if (cartella.contains('\0') || postazione.contains('\0'))
        throw ErroreQvr(Err::TipoNonCorrispondente,
                        QStringLiteral("%1: il file contiene caratteri NUL").arg(file));

    ValoriPercorsi valori;
    if (utf8Valido(cartella) && utf8Valido(postazione)) {
        valori.cartella = QString::fromUtf8(cartella);
        valori.postazione = QString::fromUtf8(postazione);
    } else {
        valori.cartella = QString::fromLatin1(cartella);
        valori.postazione = QString::fromLatin1(postazione);
    }
    return valori;
}

void ScriviPercorsi(const QString& cartella, qint16 postazione, const QString& file) {
    const QByteArray riga = QByteArray("\"") + cartella.toUtf8() + QByteArray("\",") +
                            QByteArray::number(postazione) + QByteArray("\r\n");

    const QFileInfo info(file);
    if (info.isDir())
        throw ErroreQvr(Err::AccessoNegato, file);
    if (!info.absoluteDir().exists())
        throw ErroreQvr(Err::PercorsoNonTrovato, file);

    // The new content goes to a new file in the same folder, is synced, and only then takes the
    // place of the old one: the old file stays whole until the new one is complete.
    QSaveFile nuovo(file);
    int codiceSistema = 0;
    auto numeroErrore = [&]() {
        if (nuovo.error() == QFileDevice::ResourceError)
            return Err::DiscoPieno;
        if (codiceSistema == 0 && !QFileInfo(info.absolutePath()).isWritable())
            return Err::AccessoNegato;
        return numeroDaErrno(codiceSistema);
    };
    errno = 0;
    if (!nuovo.open(QIODevice::WriteOnly)) {
        codiceSistema = errno;
        throw ErroreQvr(numeroErrore(), file);
    }
    // The folder value may be a server address with its password: only the owner may read the
    // file, also one that an older version left readable by all. Set before anything is written.
    if (!nuovo.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        nuovo.cancelWriting();
        throw ErroreQvr(Err::AccessoNegato, file);
    }
    errno = 0;
    if (nuovo.write(riga) != riga.size()) {
        codiceSistema = errno;
        const int numero = numeroErrore();
        nuovo.cancelWriting();
        throw ErroreQvr(numero, file);
    }
    errno = 0;
    if (!nuovo.commit()) {
        codiceSistema = errno;
        throw ErroreQvr(numeroErrore(), file);
    }
}

void rendiFilePrivato(const QString& file) {
    const QFileInfo info(file);
    if (info.isDir())
        throw ErroreQvr(Err::AccessoNegato, file);
    if (!QDir().mkpath(info.absolutePath()))
        throw ErroreQvr(Err::PercorsoNonTrovato, info.absolutePath());
    const QByteArray nome = QFile::encodeName(file);
    int fd;
    do {
        fd = ::open(nome.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno != EEXIST)
        throw ErroreQvr(numeroDaErrno(errno), file);
    if (::chmod(nome.constData(), 0600) != 0)
        throw ErroreQvr(numeroDaErrno(errno), file);
}

} // namespace qvr
