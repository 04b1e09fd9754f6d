#include "tabellone/impostazioni.h"

#include "archive/errori.h"
#include "archive/file_percorsi.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>

namespace qvr::tabellone {

namespace {
QSettings apri() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qvr"),
                     QStringLiteral("qvr-tabellone"));
}
} // namespace

QList<int> analizzaPostazioni(const QString& testo) {
    QList<int> r;
    for (const QString& parte : testo.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = parte.trimmed().toInt(&ok);
        if (ok && n >= 1 && n <= 10 && !r.contains(n))
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
    return apri().fileName();
}

Impostazioni Impostazioni::leggi(QString* errore) {
    Impostazioni i;
    QSettings s = apri();
    if (errore)
        errore->clear();
    if (s.status() != QSettings::NoError) {
        const int numero =
            s.status() == QSettings::AccessError ? Err::AccessoNegato : Err::TipoNonCorrispondente;
        if (errore)
            *errore = QStringLiteral("Impostazioni non leggibili, si usano quelle predefinite: ") +
                      ErroreQvr(numero, s.fileName()).testoCompleto();
        return i;
    }
    i.archivio = s.value(QStringLiteral("archivio")).toString();
    if (s.contains(QStringLiteral("postazioni"))) {
        const QVariant v = s.value(QStringLiteral("postazioni"));
        const QString testo = v.typeId() == QMetaType::QStringList
                                  ? v.toStringList().join(QLatin1Char(','))
                                  : v.toString();
        const QList<int> p = analizzaPostazioni(testo);
        if (!p.isEmpty())
            i.postazioni = p;
    }
    i.titolo = s.value(QStringLiteral("titolo"), i.titolo).toString();
    i.nominativi = s.value(QStringLiteral("nominativi"), i.nominativi).toBool();
    i.voce = s.value(QStringLiteral("voce"), i.voce).toBool();
    bool ok = false;
    const int volume = s.value(QStringLiteral("volume"), i.volume).toInt(&ok);
    if (ok)
        i.volume = std::clamp(volume, 0, 100);
    return i;
}

bool Impostazioni::scrivi(QString* errore) const {
    QSettings s = apri();
    // The archive value may be a server address with its password: the file is its owner's
    // only, before the first value is written.
    try {
        rendiFilePrivato(s.fileName());
    } catch (const ErroreQvr& e) {
        if (errore)
            *errore = QStringLiteral("Impostazioni non salvate: ") + e.testoCompleto();
        return false;
    }
    s.setValue(QStringLiteral("archivio"), archivio);
    s.setValue(QStringLiteral("postazioni"), testoPostazioni(postazioni));
    s.setValue(QStringLiteral("titolo"), titolo);
    s.setValue(QStringLiteral("nominativi"), nominativi);
    s.setValue(QStringLiteral("voce"), voce);
    s.setValue(QStringLiteral("volume"), volume);
    s.sync();
    if (s.status() != QSettings::NoError) {
        if (errore)
            *errore = QStringLiteral("Impostazioni non salvate: ") +
                      ErroreQvr(Err::AccessoNegato, s.fileName()).testoCompleto();
        return false;
    }
    return true;
}

} // namespace qvr::tabellone
