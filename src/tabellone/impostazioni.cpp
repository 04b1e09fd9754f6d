#include "tabellone/impostazioni.h"

#include "archive/errori.h"
#include "archive/nomi.h"

#include <QStringList>

#include <algorithm>

namespace qvr::tabellone {

namespace {
const QString Programma = QStringLiteral("qvr-tabellone");
} // namespace

QList<int> analizzaPostazioni(const QString& testo) {
    QList<int> r;
    for (const QString& parte : testo.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = parte.trimmed().toInt(&ok);
        if (ok && n >= 1 && n <= nomi::NumeroPostazioni && !r.contains(n))
            r.append(n);
    }
    std::sort(r.begin(), r.end());
    return r;
}

QString testoPostazioni(const QList<int>& postazioni) {
    QStringList parti;
    for (int n : postazioni)
        parti << QString::number(n);
    return parti.join(QLatin1Char(','));
}

QString Impostazioni::percorsoFile() {
    return FileImpostazioni(Programma).percorso();
}

Impostazioni Impostazioni::carica(QList<Problema>* problemi) {
    Impostazioni i;
    FileImpostazioni f(Programma);
    if (problemi)
        problemi->clear();
    if (const int numero = f.numeroErroreLettura(); numero != 0) {
        if (problemi)
            *problemi << Problema{
                {},
                QStringLiteral("Impostazioni non leggibili, si usano quelle predefinite: ") +
                    ErroreQvr(numero, f.percorso()).testoCompleto()};
        return i;
    }
    i.archivio = f.valore(chiavi::archivio);
    if (f.contiene(chiavi::postazioni.nome)) {
        const QVariant v = f.grezzo(chiavi::postazioni);
        const QString testo = v.typeId() == QMetaType::QStringList
                                  ? v.toStringList().join(QLatin1Char(','))
                                  : v.toString();
        const QList<int> p = analizzaPostazioni(testo);
        if (!p.isEmpty())
            i.postazioni = p;
    }
    i.titolo = f.valore(chiavi::titolo);
    i.nominativi = f.grezzo(chiavi::nominativi).toBool();
    i.voce = f.grezzo(chiavi::voce).toBool();
    bool ok = false;
    const int volume = f.grezzo(chiavi::volume).toInt(&ok);
    if (ok)
        i.volume = std::clamp(volume, 0, 100);
    return i;
}

void Impostazioni::salva() const {
    FileImpostazioni f(Programma);
    // The archive value may be a server address with its password: the file is its owner's
    // only, before the first value is written.
    f.preparaPrivato();
    f.imposta(chiavi::archivio, archivio);
    f.imposta(chiavi::postazioni, testoPostazioni(postazioni));
    f.imposta(chiavi::titolo, titolo);
    f.imposta(chiavi::nominativi, nominativi);
    f.imposta(chiavi::voce, voce);
    f.imposta(chiavi::volume, volume);
    f.scrivi();
}

} // namespace qvr::tabellone
