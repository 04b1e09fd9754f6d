#include "registro/osservatore.h"

#include "archive/nomi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace qvr::registro {

namespace {

bool assente(const RecordDisplay& r) {
    return r.stato == nomi::StatoAssente || r.numero == 0;
}

} // namespace

std::vector<Evento> Osservatore::aggiornaRegole(const biglietti::Regole& r) {
    m_regole = r;
    return {};
}

std::vector<Evento> Osservatore::aggiornaAssegnazioni(const Assegnazioni& a) {
    std::array<bool, nomi::NumeroPostazioni> singola{};
    for (int n = 0; n < nomi::NumeroPostazioni; ++n)
        singola[n] = a[n].singola;
    m_singola = singola;
    return {};
}

std::vector<Evento> Osservatore::aggiornaContatori(const Contatori& c, const QDateTime& ora) {
    std::vector<Evento> v;
    if (m_contatori) {
        const biglietti::Regole regole = m_regole.value_or(biglietti::Regole{});
        for (int s = 1; s <= nomi::NumeroSequenze; ++s) {
            const qint32 prima = (*m_contatori)[s - 1];
            const qint32 dopo = c[s - 1];
            if (dopo == prima)
                continue;
            auto biglietto = [&](qint32 numero) {
                Evento e = evento(Tipo::Biglietto, ora);
                e.sequenza = s;
                e.numero = numero;
                v.push_back(e);
            };
            auto azzeramento = [&] {
                Evento e = evento(Tipo::Azzeramento, ora);
                e.sequenza = s;
                v.push_back(e);
            };
            const qint64 salto = qint64(dopo) - prima;
            if (dopo > prima && salto <= MassimoSalto && prima >= 0) {
                for (qint32 n = prima + 1; n <= dopo; ++n)
                    biglietto(n);
            } else if (dopo < prima && dopo > 0 && regole.perSequenza(s) && prima <= 99 &&
                       prima >= 0) {
                for (qint32 n = prima + 1; n <= 99; ++n)
                    biglietto(n);
                for (qint32 n = 1; n <= dopo; ++n)
                    biglietto(n);
            } else {
                azzeramento();
                if (dopo > 0 && dopo <= MassimoSalto)
                    for (qint32 n = 1; n <= dopo; ++n)
                        biglietto(n);
            }
        }
    }
    m_contatori = c;
    return v;
}

std::vector<Evento> Osservatore::aggiornaDisplay(const RecordsDisplay& d, const QDateTime& ora) {
    std::vector<Evento> v;
    if (m_display && m_singola) {
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
            if ((*m_singola)[n - 1])
                continue;
            const RecordDisplay& prima = (*m_display)[n - 1];
            const RecordDisplay& adesso = d[n - 1];
            if (adesso.stato == nomi::StatoInCorso && adesso.numero > 0 &&
                (adesso.numero != prima.numero || prima.stato != nomi::StatoInCorso)) {
                Evento e = evento(Tipo::Chiamata, ora);
                e.postazione = n;
                e.sequenza = n;
                e.numero = adesso.numero;
                e.richiamo = adesso.numero == prima.numero;
                if (adesso.flag == QStringLiteral("T"))
                    e.dettaglio = QStringLiteral("numero scelto");
                v.push_back(e);
            } else if (adesso.stato == nomi::StatoAttesa && adesso.numero > 0 &&
                       (prima.stato != nomi::StatoAttesa || prima.numero != adesso.numero)) {
                Evento e = evento(Tipo::Attesa, ora);
                e.postazione = n;
                e.sequenza = n;
                e.numero = adesso.numero;
                v.push_back(e);
            } else if (assente(adesso) && !assente(prima)) {
                Evento e = evento(Tipo::Assente, ora);
                e.postazione = n;
                e.sequenza = n;
                e.numero = adesso.numero;
                v.push_back(e);
            }
        }
    }
    m_display = d;
    return v;
}

std::vector<Evento> Osservatore::aggiornaSingoli(const RecordsSingoli& s, const QDateTime& ora) {
    std::vector<Evento> v;
    if (m_singoli && m_singola) {
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
            if (!(*m_singola)[n - 1])
                continue;
            const qint32 numero = s[n - 1].numero;
            if (numero > 0 && numero != (*m_singoli)[n - 1].numero) {
                Evento e = evento(Tipo::Chiamata, ora);
                e.postazione = n;
                e.sequenza = biglietti::SequenzaSingola;
                e.numero = numero;
                e.singola = true;
                v.push_back(e);
            }
        }
    }
    m_singoli = s;
    return v;
}

QString Osservatore::salva() const {
    QJsonObject o;
    if (m_contatori) {
        QJsonArray a;
        for (qint32 x : *m_contatori)
            a.append(x);
        o.insert(QStringLiteral("contatori"), a);
    }
    if (m_singola) {
        QJsonArray a;
        for (bool x : *m_singola)
            a.append(x);
        o.insert(QStringLiteral("singola"), a);
    }
    if (m_display) {
        QJsonArray a;
        for (const RecordDisplay& r : *m_display)
            a.append(QJsonArray{r.numero, r.stato, r.flag});
        o.insert(QStringLiteral("display"), a);
    }
    if (m_singoli) {
        QJsonArray a;
        for (const RecordSingolo& r : *m_singoli)
            a.append(QJsonArray{r.numero, r.stato});
        o.insert(QStringLiteral("singoli"), a);
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool Osservatore::ripristina(const QString& testo) {
    QJsonParseError errore{};
    const QJsonDocument doc = QJsonDocument::fromJson(testo.toUtf8(), &errore);
    if (errore.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    auto elenco = [&](const char* chiave, int n) -> std::optional<QJsonArray> {
        const QJsonValue v = o.value(QLatin1String(chiave));
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isArray() || v.toArray().size() != n)
            throw false;
        return v.toArray();
    };
    try {
        std::optional<Contatori> contatori;
        std::optional<std::array<bool, nomi::NumeroPostazioni>> singola;
        std::optional<RecordsDisplay> display;
        std::optional<RecordsSingoli> singoli;
        if (const auto a = elenco("contatori", nomi::NumeroSequenze)) {
            contatori.emplace();
            for (int i = 0; i < nomi::NumeroSequenze; ++i)
                (*contatori)[i] = a->at(i).toInt();
        }
        if (const auto a = elenco("singola", nomi::NumeroPostazioni)) {
            singola.emplace();
            for (int i = 0; i < nomi::NumeroPostazioni; ++i)
                (*singola)[i] = a->at(i).toBool();
        }
        if (const auto a = elenco("display", nomi::NumeroPostazioni)) {
            display.emplace();
            for (int i = 0; i < nomi::NumeroPostazioni; ++i) {
                const QJsonArray r = a->at(i).toArray();
                if (r.size() != 3)
                    throw false;
                (*display)[i] = {r.at(0).toInt(), r.at(1).toInt(), r.at(2).toString(), {}};
            }
        }
        if (const auto a = elenco("singoli", nomi::NumeroPostazioni)) {
            singoli.emplace();
            for (int i = 0; i < nomi::NumeroPostazioni; ++i) {
                const QJsonArray r = a->at(i).toArray();
                if (r.size() != 2)
                    throw false;
                (*singoli)[i] = {r.at(0).toInt(), r.at(1).toInt(), {}};
            }
        }
        m_contatori = contatori;
        m_singola = singola;
        m_display = display;
        m_singoli = singoli;
    } catch (bool) {
        return false;
    }
    return true;
}

} // namespace qvr::registro
