#include "totem/impostazioni_totem.h"

#include "archive/errori.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSettings>
#include <QStringDecoder>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qvr::totem {

namespace {

QSettings apri() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qvr"),
                     QStringLiteral("qvr-totem"));
}

QString problema(int numero, const QString& dettaglio) {
    return ErroreQvr(numero, dettaglio).testoCompleto();
}

// The settings file as the kiosk can trust it: nothing when it is sound text (or missing), else
// the problem. A file that is not a regular file is never opened (a FIFO would block the open).
std::optional<QString> fileNonValido(const QString& percorso) {
    struct stat st {};
    if (::lstat(QFile::encodeName(percorso).constData(), &st) != 0)
        return errno == ENOENT ? std::nullopt
                               : std::optional(problema(numeroDaErrno(errno), percorso));
    if (!S_ISREG(st.st_mode))
        return problema(Err::AccessoNegato, percorso + QStringLiteral(": non è un file"));
    QFile f(percorso);
    if (!f.open(QIODevice::ReadOnly))
        return problema(Err::AccessoNegato, percorso);
    constexpr qint64 Massimo = 1 << 20;
    const QByteArray testo = f.read(Massimo + 1);
    if (testo.size() > Massimo)
        return problema(Err::Overflow, percorso + QStringLiteral(": oltre 1 MiB"));
    for (const char c : testo) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7f)
            return problema(Err::TipoNonCorrispondente,
                            percorso + QStringLiteral(": contenuto non di testo"));
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decodificato = utf8(testo);
    if (utf8.hasError())
        return problema(Err::TipoNonCorrispondente,
                        percorso + QStringLiteral(": contenuto non di testo"));
    return std::nullopt;
}

// The file exists mode 600 before anything is written into it: the settings are replaced whole
// through a new file that takes the old one's permissions.
void preparaFile(const QString& percorso) {
    QDir().mkpath(QFileInfo(percorso).absolutePath());
    const QByteArray nome = QFile::encodeName(percorso);
    struct stat st {};
    if (::lstat(nome.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        throw ErroreQvr(Err::AccessoNegato, percorso + QStringLiteral(": non è un file"));
    const int fd = ::open(nome.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        throw ErroreQvr(numeroDaErrno(errno), percorso);
    const int esito = ::fchmod(fd, 0600);
    const int codice = errno;
    ::close(fd);
    if (esito != 0)
        throw ErroreQvr(numeroDaErrno(codice), percorso);
}

void scriviPin(QSettings& ini, const ImpostazioniTotem& s) {
    ini.setValue(QStringLiteral("pin/sale"), s.sale);
    ini.setValue(QStringLiteral("pin/impronta"), s.impronta);
    ini.setValue(QStringLiteral("pin/iterazioni"), s.iterazioni);
}

void controllaScrittura(QSettings& ini) {
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw ErroreQvr(ini.status() == QSettings::AccessError ? Err::AccessoNegato : Err::ErroreIO,
                        ini.fileName());
}

} // namespace

QString nomeSequenza(int sequenza) {
    return QStringLiteral("P%1").arg(sequenza);
}

int sequenzaDaNome(const QString& nome) {
    const QString t = nome.trimmed().toUpper();
    if (!t.startsWith(QLatin1Char('P')))
        return 0;
    bool ok = false;
    const int n = t.mid(1).toInt(&ok);
    return ok && n >= 1 && n <= 11 ? n : 0;
}

QString nomeModo(ModoStampa modo) {
    switch (modo) {
    case ModoStampa::Cups:
        return QStringLiteral("cups");
    case ModoStampa::EscPosCups:
        return QStringLiteral("escpos-cups");
    case ModoStampa::EscPosFile:
        return QStringLiteral("escpos-file");
    }
    return {};
}

QByteArray pbkdf2(const QByteArray& pin, const QByteArray& sale, int iterazioni) {
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, pin);
    mac.addData(sale);
    mac.addData(QByteArray("\x00\x00\x00\x01", 4));
    QByteArray u = mac.result();
    QByteArray t = u;
    for (int i = 1; i < iterazioni; ++i) {
        mac.reset();
        mac.addData(u);
        u = mac.result();
        for (int k = 0; k < t.size(); ++k)
            t[k] = static_cast<char>(t[k] ^ u[k]);
    }
    return t;
}

QString ImpostazioniTotem::percorsoFile() {
    return apri().fileName();
}

ImpostazioniTotem ImpostazioniTotem::carica(QStringList* problemi) {
    QStringList p;
    ImpostazioniTotem s;
    const QString percorso = percorsoFile();
    const std::optional<QString> guasto = fileNonValido(percorso);
    if (guasto) {
        p << *guasto;
        const QFileInfo info(percorso);
        if (info.exists() && !info.isFile()) {
            // Not opened at all; nothing of it is trusted.
            s.pinDanneggiato = true;
            if (problemi)
                *problemi = p << QStringLiteral("Cartella dell'archivio non impostata");
            return s;
        }
    }
    // A file of an older version may be readable by every local user: it holds the PIN's hash.
    if (QFileInfo(percorso).isFile() &&
        (QFile::permissions(percorso) & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                         QFileDevice::WriteGroup | QFileDevice::WriteOther)))
        QFile::setPermissions(percorso, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QSettings ini = apri();
    if (ini.status() == QSettings::AccessError && !guasto)
        p << problema(Err::AccessoNegato, ini.fileName());
    else if (ini.status() == QSettings::FormatError && !guasto)
        p << problema(Err::TipoNonCorrispondente, ini.fileName() + QStringLiteral(": formato"));
    const bool fileGuasto = guasto || ini.status() != QSettings::NoError;

    s.cartella = ini.value(QStringLiteral("generale/cartella")).toString();
    s.ufficio = ini.value(QStringLiteral("generale/ufficio")).toString();
    const QVariant ritorno = ini.value(QStringLiteral("generale/ritorno"), 6);
    bool ok = false;
    const int r = ritorno.toInt(&ok);
    if (ok && r >= 1 && r <= 120)
        s.ritorno = r;
    else
        p << problema(
            Err::TipoNonCorrispondente,
            QStringLiteral("ritorno = \"%1\" (secondi da 1 a 120)").arg(ritorno.toString()));

    const QString modo =
        ini.value(QStringLiteral("stampa/modo"), QStringLiteral("cups")).toString();
    if (modo == QStringLiteral("cups"))
        s.modo = ModoStampa::Cups;
    else if (modo == QStringLiteral("escpos-cups"))
        s.modo = ModoStampa::EscPosCups;
    else if (modo == QStringLiteral("escpos-file"))
        s.modo = ModoStampa::EscPosFile;
    else
        p << problema(
            Err::TipoNonCorrispondente,
            QStringLiteral("modo di stampa = \"%1\" (cups, escpos-cups, escpos-file)").arg(modo));
    s.stampante = ini.value(QStringLiteral("stampa/stampante")).toString();
    s.dispositivo = ini.value(QStringLiteral("stampa/dispositivo")).toString();
    const QString carta = ini.value(QStringLiteral("stampa/carta"), 80).toString();
    if (carta == QStringLiteral("58") || carta == QStringLiteral("80"))
        s.carta = carta.toInt();
    else
        p << problema(Err::TipoNonCorrispondente,
                      QStringLiteral("carta = \"%1\" (58 o 80 mm)").arg(carta));

    const QByteArray sale = ini.value(QStringLiteral("pin/sale")).toByteArray();
    const QByteArray impronta = ini.value(QStringLiteral("pin/impronta")).toByteArray();
    const auto esadecimale = [](const QByteArray& b, int lunghezza) {
        if (b.size() != lunghezza)
            return false;
        for (char c : b)
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
        return true;
    };
    const QVariant iterazioni = ini.value(QStringLiteral("pin/iterazioni"), IterazioniPrima);
    const int it = iterazioni.toInt(&ok);
    const bool iterazioniValide = ok && it >= 1000 && it <= 100000000;
    if (!sale.isEmpty() || !impronta.isEmpty() || ini.contains(QStringLiteral("pin/iterazioni"))) {
        if (esadecimale(sale, 32) && esadecimale(impronta, 64) && iterazioniValide) {
            s.sale = sale;
            s.impronta = impronta.toLower();
            s.iterazioni = it;
        } else {
            s.pinDanneggiato = true;
            p << problema(Err::TipoNonCorrispondente,
                          QStringLiteral("PIN danneggiato: impostazioni bloccate finché "
                                         "l'amministratore del PC non esegue "
                                         "qvr-totem --reimposta-pin"));
        }
    } else if (fileGuasto) {
        // A file that cannot be trusted may have lost its PIN: locked, not open.
        s.pinDanneggiato = true;
    }

    const int n = ini.beginReadArray(QStringLiteral("servizi"));
    for (int i = 0; i < n && i < 99; ++i) {
        ini.setArrayIndex(i);
        Servizio v;
        v.etichetta = ini.value(QStringLiteral("etichetta")).toString().trimmed();
        const QString seq = ini.value(QStringLiteral("sequenza")).toString();
        v.sequenza = sequenzaDaNome(seq);
        if (v.etichetta.isEmpty() || v.sequenza == 0) {
            p << problema(Err::TipoNonCorrispondente,
                          QStringLiteral("servizio %1: \"%2\", sequenza \"%3\" (da P1 a P11)")
                              .arg(i + 1)
                              .arg(v.etichetta, seq));
            continue;
        }
        s.servizi << v;
    }
    ini.endArray();
    if (s.cartella.trimmed().isEmpty())
        p << QStringLiteral("Cartella dell'archivio non impostata");
    if (s.servizi.isEmpty())
        p << QStringLiteral("Nessun servizio impostato");
    if (problemi)
        *problemi = p;
    return s;
}

void ImpostazioniTotem::salva() const {
    preparaFile(percorsoFile());
    QSettings ini = apri();
    // A damaged PIN stays as it was found: only the administrator's command replaces it.
    QList<std::pair<QString, QVariant>> pinTrovato;
    if (!haPin() && pinDanneggiato) {
        ini.beginGroup(QStringLiteral("pin"));
        for (const QString& chiave : ini.childKeys())
            pinTrovato << std::pair(chiave, ini.value(chiave));
        ini.endGroup();
    }
    ini.clear();
    ini.setValue(QStringLiteral("generale/cartella"), cartella);
    ini.setValue(QStringLiteral("generale/ufficio"), ufficio);
    ini.setValue(QStringLiteral("generale/ritorno"), ritorno);
    ini.setValue(QStringLiteral("stampa/modo"), nomeModo(modo));
    ini.setValue(QStringLiteral("stampa/stampante"), stampante);
    ini.setValue(QStringLiteral("stampa/dispositivo"), dispositivo);
    ini.setValue(QStringLiteral("stampa/carta"), carta);
    if (haPin())
        scriviPin(ini, *this);
    for (const auto& [chiave, valore] : pinTrovato)
        ini.setValue(QStringLiteral("pin/") + chiave, valore);
    ini.beginWriteArray(QStringLiteral("servizi"), static_cast<int>(servizi.size()));
    for (int i = 0; i < servizi.size(); ++i) {
        ini.setArrayIndex(i);
        ini.setValue(QStringLiteral("etichetta"), servizi[i].etichetta);
        ini.setValue(QStringLiteral("sequenza"), nomeSequenza(servizi[i].sequenza));
    }
    ini.endArray();
    controllaScrittura(ini);
}

void ImpostazioniTotem::salvaPin() const {
    preparaFile(percorsoFile());
    QSettings ini = apri();
    ini.remove(QStringLiteral("pin"));
    if (haPin())
        scriviPin(ini, *this);
    controllaScrittura(ini);
}

QString ImpostazioniTotem::pinNonValido(const QString& pin) {
    if (pin.trimmed().size() < LunghezzaMinimaPin)
        return QStringLiteral("Il PIN deve avere almeno %1 caratteri").arg(LunghezzaMinimaPin);
    return {};
}

void ImpostazioniTotem::impostaPin(const QString& pin) {
    if (pin.isEmpty()) {
        sale.clear();
        impronta.clear();
        return;
    }
    QByteArray s(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(s.begin(), s.end());
    sale = s.toHex();
    iterazioni = IterazioniPin;
    impronta = pbkdf2(pin.toUtf8(), sale, iterazioni).toHex();
    pinDanneggiato = false;
}

bool ImpostazioniTotem::verificaPin(const QString& pin) const {
    if (!haPin())
        return false;
    const QByteArray calcolata = pbkdf2(pin.toUtf8(), sale, iterazioni).toHex();
    // Compared in constant time.
    unsigned char diff = calcolata.size() == impronta.size() ? 0 : 1;
    for (int i = 0; i < calcolata.size() && i < impronta.size(); ++i)
        diff |= static_cast<unsigned char>(calcolata[i] ^ impronta.toLower()[i]);
    return diff == 0;
}

TentativiPin::TentativiPin(Orologio orologio) : m_orologio(std::move(orologio)) {
    if (!m_orologio) {
        auto avvio = std::make_shared<QElapsedTimer>();
        avvio->start();
        m_orologio = [avvio] { return avvio->elapsed(); };
    }
}

qint64 TentativiPin::attesa() const {
    return std::max<qint64>(0, m_finoA - m_orologio());
}

void TentativiPin::errato() {
    ++m_errati;
    if (m_errati < TentativiLiberi)
        return;
    const int raddoppi = std::min(m_errati - TentativiLiberi, 20);
    m_finoA = m_orologio() + std::min(PrimaPausa << raddoppi, PausaMassima);
}

void TentativiPin::giusto() {
    m_errati = 0;
    m_finoA = 0;
}

namespace {

// One line from the terminal, not echoed when standard input is a terminal.
QString leggiNascosto(const char* domanda) {
    std::fputs(domanda, stderr);
    std::fflush(stderr);
    termios prima{};
    const bool terminale = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &prima) == 0;
    if (terminale) {
        termios senzaEco = prima;
        senzaEco.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &senzaEco);
    }
    char buffer[256] = {};
    const bool letta = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
    QString riga = letta ? QString::fromUtf8(buffer) : QString();
    while (riga.endsWith(QLatin1Char('\n')) || riga.endsWith(QLatin1Char('\r')))
        riga.chop(1);
    if (terminale) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &prima);
        std::fputs("\n", stderr);
    }
    return riga;
}

} // namespace

int reimpostaPinDaTerminale() {
    QTextStream err(stderr);
    const QString pin = leggiNascosto("Nuovo PIN del totem: ");
    if (const QString motivo = ImpostazioniTotem::pinNonValido(pin); !motivo.isEmpty()) {
        err << motivo << ": PIN non cambiato\n";
        return 1;
    }
    if (leggiNascosto("Ripetere il nuovo PIN: ") != pin) {
        err << "I due PIN non coincidono: PIN non cambiato\n";
        return 1;
    }
    ImpostazioniTotem s;
    s.impostaPin(pin);
    try {
        s.salvaPin();
    } catch (const ErroreQvr& e) {
        err << e.testoCompleto() << "\nPIN non cambiato\n";
        return 1;
    }
    err << "PIN del totem reimpostato in " << ImpostazioniTotem::percorsoFile() << "\n";
    return 0;
}

} // namespace qvr::totem
