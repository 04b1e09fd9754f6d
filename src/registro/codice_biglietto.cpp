#include "registro/codice_biglietto.h"

#include "registro/deposito.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <array>

namespace qvr::registro {

namespace {
const char Alfabeto[] = "abcdefghijklmnopqrstuvwxyz234567";
}

QByteArray nuovaChiave() {
    std::array<quint32, 8> parole;
    QRandomGenerator::system()->fillRange(parole.data(), parole.size());
    return QByteArray(reinterpret_cast<const char*>(parole.data()), sizeof parole).toHex();
}

QString codiceBiglietto(const QByteArray& chiave, QDate giorno, int sequenza, qint32 numero) {
    if (chiave.isEmpty())
        return {};
    const QByteArray messaggio = giorno.toString(Qt::ISODate).toLatin1() + '/' +
                                 QByteArray::number(sequenza) + '/' + QByteArray::number(numero);
    const QByteArray h =
        QMessageAuthenticationCode::hash(messaggio, chiave, QCryptographicHash::Sha256);
    // The first 80 bits, 5 at a time.
    QString codice;
    quint64 bit = 0;
    int quanti = 0;
    for (int i = 0; codice.size() < LunghezzaCodice; ++i) {
        bit = (bit << 8) | quint8(h[i]);
        quanti += 8;
        while (quanti >= 5 && codice.size() < LunghezzaCodice) {
            quanti -= 5;
            codice += QLatin1Char(Alfabeto[(bit >> quanti) & 31]);
        }
    }
    return codice;
}

bool formaCodice(const QString& testo) {
    if (testo.size() != LunghezzaCodice)
        return false;
    for (const QChar c : testo)
        if (!((c >= u'a' && c <= u'z') || (c >= u'2' && c <= u'7')))
            return false;
    return true;
}

QByteArray chiaveDelRegistro(const QString& archivio) {
    const auto r = deposito(archivio);
    r->apriLettura();
    return r->chiaveBiglietti();
}

} // namespace qvr::registro
