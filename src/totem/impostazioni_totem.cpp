#include "totem/impostazioni_totem.h"

#include "archive/errori.h"
#include "archive/nomi.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSettings>
#include <QStringDecoder>
#include <QTextStream>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qvr::totem {

namespace {

const QString Programma = QStringLiteral("qvr-totem");

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

void scriviPin(FileImpostazioni& f, const ImpostazioniTotem& s) {
    f.imposta(chiavi::sale, s.sale);
    f.imposta(chiavi::impronta, s.impronta);
    f.imposta(chiavi::iterazioni, s.iterazioni);
}

bool esadecimale(const QByteArray& b, int lunghezza) {
    if (b.size() != lunghezza)
        return false;
    for (char c : b)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// The parts of the file, each into `s`, each bad value a problem.
void leggiGenerale(const FileImpostazioni& f, ImpostazioniTotem& s, QList<Problema>& p) {
    s.cartella = f.valore(chiavi::cartella);
    s.ufficio = f.valore(chiavi::ufficio);
    const QVariant ritorno = f.grezzo(chiavi::ritorno);
    bool ok = false;
    const int r = ritorno.toInt(&ok);
    if (ok && r >= 1 && r <= 120)
        s.ritorno = r;
    else
        p << Problema{
            chiavi::ritorno.testo(),
            problema(
                Err::TipoNonCorrispondente,
                QStringLiteral("ritorno = \"%1\" (secondi da 1 a 120)").arg(ritorno.toString()))};
}

void leggiStampa(const FileImpostazioni& f, ImpostazioniTotem& s, QList<Problema>& p) {
    const QString modo = f.valore(chiavi::modo);
    if (modo == QStringLiteral("cups"))
        s.modo = ModoStampa::Cups;
    else if (modo == QStringLiteral("escpos-cups"))
        s.modo = ModoStampa::EscPosCups;
    else if (modo == QStringLiteral("escpos-file"))
        s.modo = ModoStampa::EscPosFile;
    else
        p << Problema{
            chiavi::modo.testo(),
            problema(Err::TipoNonCorrispondente,
                     QStringLiteral("modo di stampa = \"%1\" (cups, escpos-cups, escpos-file)")
                         .arg(modo))};
    s.stampante = f.valore(chiavi::stampante);
    s.dispositivo = f.valore(chiavi::dispositivo);
    const QString indirizzo = f.valore(chiavi::indirizzo).trimmed();
    if (const QString motivo = indirizzoNonValido(indirizzo); motivo.isEmpty())
        s.indirizzo = indirizzo;
    else
        p << Problema{chiavi::indirizzo.testo(),
                      problema(Err::TipoNonCorrispondente,
                               QStringLiteral("indirizzo = \"%1\" (%2)").arg(indirizzo, motivo))};
    const QString carta = f.grezzo(chiavi::carta).toString();
    if (carta == QStringLiteral("58") || carta == QStringLiteral("80"))
        s.carta = carta.toInt();
    else
        p << Problema{chiavi::carta.testo(),
                      problema(Err::TipoNonCorrispondente,
                               QStringLiteral("carta = \"%1\" (58 o 80 mm)").arg(carta))};
}

// `fileGuasto`: a file that cannot be trusted may have lost its PIN: locked, not open.
void leggiPin(const FileImpostazioni& f, bool fileGuasto, ImpostazioniTotem& s,
              QList<Problema>& p) {
    const QByteArray sale = f.valore(chiavi::sale);
    const QByteArray impronta = f.valore(chiavi::impronta);
    bool ok = false;
    const int it = f.grezzo(chiavi::iterazioni).toInt(&ok);
    const bool iterazioniValide = ok && it >= 1000 && it <= 100000000;
    if (sale.isEmpty() && impronta.isEmpty() && !f.contiene(chiavi::iterazioni.nome)) {
        s.pinDanneggiato = fileGuasto;
        return;
    }
    if (esadecimale(sale, 32) && esadecimale(impronta, 64) && iterazioniValide) {
        s.sale = sale;
        s.impronta = impronta.toLower();
        s.iterazioni = it;
        return;
    }
    s.pinDanneggiato = true;
    p << Problema{QString::fromLatin1(chiavi::GruppoPin),
                  problema(Err::TipoNonCorrispondente,
                           QStringLiteral("PIN danneggiato: impostazioni bloccate finché "
                                          "l'amministratore del PC non esegue "
                                          "qvr-totem --reimposta-pin"))};
}

void leggiServizi(FileImpostazioni& f, ImpostazioniTotem& s, QList<Problema>& p) {
    QSettings& ini = f.ini();
    const QString chiave = QString::fromLatin1(chiavi::Servizi);
    const int n = ini.beginReadArray(chiave);
    for (int i = 0; i < n && i < 99; ++i) {
        ini.setArrayIndex(i);
        Servizio v;
        v.etichetta = ini.value(QLatin1String(chiavi::Etichetta)).toString().trimmed();
        const QString seq = ini.value(QLatin1String(chiavi::Sequenza)).toString();
        v.sequenza = sequenzaDaNome(seq);
        if (v.etichetta.isEmpty() || v.sequenza == 0) {
            p << Problema{chiave, problema(Err::TipoNonCorrispondente,
                                           QStringLiteral("servizio %1: \"%2\", sequenza \"%3\" "
                                                          "(da P1 a P11)")
                                               .arg(i + 1)
                                               .arg(v.etichetta, seq))};
            continue;
        }
        s.servizi << v;
    }
    ini.endArray();
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
    return ok && n >= 1 && n <= nomi::NumeroSequenze ? n : 0;
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
    return FileImpostazioni(Programma).percorso();
}

ImpostazioniTotem ImpostazioniTotem::carica(QList<Problema>* problemi) {
    QList<Problema> p;
    ImpostazioniTotem s;
    const QString percorso = percorsoFile();
    const QString senzaCartella = QStringLiteral("Cartella dell'archivio non impostata");
    const std::optional<QString> guasto = fileNonValido(percorso);
    if (guasto) {
        p << Problema{{}, *guasto};
        const QFileInfo info(percorso);
        if (info.exists() && !info.isFile()) {
            // Not opened at all; nothing of it is trusted.
            s.pinDanneggiato = true;
            if (problemi)
                *problemi = p << Problema{chiavi::cartella.testo(), senzaCartella};
            return s;
        }
    }
    // A file of an older version may be readable by every local user: it holds the PIN's hash.
    if (QFileInfo(percorso).isFile() &&
        (QFile::permissions(percorso) & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                         QFileDevice::WriteGroup | QFileDevice::WriteOther)))
        QFile::setPermissions(percorso, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    FileImpostazioni f(Programma);
    const int numero = f.numeroErroreLettura();
    if (numero == Err::AccessoNegato && !guasto)
        p << Problema{{}, problema(numero, f.percorso())};
    else if (numero != 0 && !guasto)
        p << Problema{{}, problema(numero, f.percorso() + QStringLiteral(": formato"))};

    leggiGenerale(f, s, p);
    leggiStampa(f, s, p);
    leggiPin(f, guasto || numero != 0, s, p);
    leggiServizi(f, s, p);
    if (s.cartella.trimmed().isEmpty())
        p << Problema{chiavi::cartella.testo(), senzaCartella};
    if (s.servizi.isEmpty())
        p << Problema{QString::fromLatin1(chiavi::Servizi),
                      QStringLiteral("Nessun servizio impostato")};
    if (problemi)
        *problemi = p;
    return s;
}

void ImpostazioniTotem::salva() const {
    FileImpostazioni f(Programma);
    f.preparaPrivato();
    QSettings& ini = f.ini();
    // A damaged PIN stays as it was found: only the administrator's command replaces it.
    QList<std::pair<QString, QVariant>> pinTrovato;
    if (!haPin() && pinDanneggiato) {
        ini.beginGroup(QLatin1String(chiavi::GruppoPin));
        for (const QString& chiave : ini.childKeys())
            pinTrovato << std::pair(chiave, ini.value(chiave));
        ini.endGroup();
    }
    ini.clear();
    f.imposta(chiavi::cartella, cartella);
    f.imposta(chiavi::ufficio, ufficio);
    f.imposta(chiavi::ritorno, ritorno);
    f.imposta(chiavi::modo, nomeModo(modo));
    f.imposta(chiavi::stampante, stampante);
    f.imposta(chiavi::dispositivo, dispositivo);
    f.imposta(chiavi::carta, carta);
    f.imposta(chiavi::indirizzo, indirizzo);
    if (haPin())
        scriviPin(f, *this);
    for (const auto& [chiave, valore] : pinTrovato)
        ini.setValue(QLatin1String(chiavi::GruppoPin) + QLatin1Char('/') + chiave, valore);
    ini.beginWriteArray(QLatin1String(chiavi::Servizi), static_cast<int>(servizi.size()));
    for (int i = 0; i < servizi.size(); ++i) {
        ini.setArrayIndex(i);
        ini.setValue(QLatin1String(chiavi::Etichetta), servizi[i].etichetta);
        ini.setValue(QLatin1String(chiavi::Sequenza), nomeSequenza(servizi[i].sequenza));
    }
    ini.endArray();
    f.scrivi();
}

void ImpostazioniTotem::salvaPin() const {
    FileImpostazioni f(Programma);
    f.preparaPrivato();
    f.ini().remove(QLatin1String(chiavi::GruppoPin));
    if (haPin())
        scriviPin(f, *this);
    f.scrivi();
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

QString indirizzoNonValido(const QString& testo) {
    if (testo.isEmpty())
        return {};
    if (testo.size() > 200)
        return QStringLiteral("più di 200 caratteri");
    const QUrl url(testo, QUrl::StrictMode);
    if (!url.isValid() ||
        (url.scheme() != QStringLiteral("http") && url.scheme() != QStringLiteral("https")))
        return QStringLiteral("serve un indirizzo http:// o https://");
    if (url.host().isEmpty())
        return QStringLiteral("manca il nome o l'indirizzo del server");
    if (url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return QStringLiteral("solo server, porta e percorso");
    for (const QChar c : testo)
        if (c.isSpace() || c.unicode() > 0x7e)
            return QStringLiteral("spazi o caratteri non ammessi");
    return {};
}

QString indirizzoBiglietto(const QString& indirizzo, const QString& codice) {
    QString base = indirizzo;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QStringLiteral("/biglietto/") + codice;
}

} // namespace qvr::totem
