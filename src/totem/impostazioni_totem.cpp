#include "totem/impostazioni_totem.h"

#include "archive/errori.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSettings>

namespace qvr::totem {

namespace {

constexpr int Iterazioni = 20000;

QSettings apri() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qvr"),
                     QStringLiteral("qvr-totem"));
}

QString problema(int numero, const QString& dettaglio) {
    return ErroreQvr(numero, dettaglio).testoCompleto();
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
    QSettings ini = apri();
    if (ini.status() == QSettings::AccessError)
        p << problema(Err::AccessoNegato, ini.fileName());
    else if (ini.status() == QSettings::FormatError)
        p << problema(Err::TipoNonCorrispondente, ini.fileName() + QStringLiteral(": formato"));

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
    if (!sale.isEmpty() || !impronta.isEmpty()) {
        if (esadecimale(sale, 32) && esadecimale(impronta, 64)) {
            s.sale = sale;
            s.impronta = impronta;
        } else {
            p << problema(Err::TipoNonCorrispondente,
                          QStringLiteral("PIN danneggiato: va impostato di nuovo"));
        }
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
    QSettings ini = apri();
    ini.clear();
    ini.setValue(QStringLiteral("generale/cartella"), cartella);
    ini.setValue(QStringLiteral("generale/ufficio"), ufficio);
    ini.setValue(QStringLiteral("generale/ritorno"), ritorno);
    ini.setValue(QStringLiteral("stampa/modo"), nomeModo(modo));
    ini.setValue(QStringLiteral("stampa/stampante"), stampante);
    ini.setValue(QStringLiteral("stampa/dispositivo"), dispositivo);
    ini.setValue(QStringLiteral("stampa/carta"), carta);
    if (haPin()) {
        ini.setValue(QStringLiteral("pin/sale"), sale);
        ini.setValue(QStringLiteral("pin/impronta"), impronta);
    }
    ini.beginWriteArray(QStringLiteral("servizi"), static_cast<int>(servizi.size()));
    for (int i = 0; i < servizi.size(); ++i) {
        ini.setArrayIndex(i);
        ini.setValue(QStringLiteral("etichetta"), servizi[i].etichetta);
        ini.setValue(QStringLiteral("sequenza"), nomeSequenza(servizi[i].sequenza));
    }
    ini.endArray();
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw ErroreQvr(ini.status() == QSettings::AccessError ? Err::AccessoNegato : Err::ErroreIO,
                        ini.fileName());
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
    impronta = pbkdf2(pin.toUtf8(), sale, Iterazioni).toHex();
}

bool ImpostazioniTotem::verificaPin(const QString& pin) const {
    if (!haPin())
        return true;
    const QByteArray calcolata = pbkdf2(pin.toUtf8(), sale, Iterazioni).toHex();
    // Compared in constant time.
    unsigned char diff = calcolata.size() == impronta.size() ? 0 : 1;
    for (int i = 0; i < calcolata.size() && i < impronta.size(); ++i)
        diff |= static_cast<unsigned char>(calcolata[i] ^ impronta.toLower()[i]);
    return diff == 0;
}

} // namespace qvr::totem
