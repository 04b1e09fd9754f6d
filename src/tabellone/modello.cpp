#include "tabellone/modello.h"

#include "archive/nomi.h"

#include <algorithm>

namespace qvr::tabellone {

QString testoStato(StatoTessera s) {
    switch (s) {
    case StatoTessera::InCorso:
        return nomi::TestoInCorso;
    case StatoTessera::Attesa:
        return nomi::TestoAttesa;
    case StatoTessera::Assente:
        break;
    }
    return nomi::TestoAssente;
}

QString testoAnnuncio(int postazione, qint32 numero) {
    return QStringLiteral("Numero %1, postazione %2").arg(numero).arg(postazione);
}

ModelloTabellone::ModelloTabellone(QList<int> postazioni, bool nominativi)
    : m_nominativi(nominativi) {
    for (int n : postazioni)
        if (n >= 1 && n <= 10 && !m_postazioni.contains(n))
            m_postazioni.append(n);
    std::sort(m_postazioni.begin(), m_postazioni.end());
}

void ModelloTabellone::registra(QVector<Chiamata>& nuove, int n, qint32 numero) {
    Chiamata c;
    c.postazione = n;
    c.numero = numero;
    c.ora = QDateTime::currentDateTime();
    if (m_nominativi && m_assegnazioni)
        c.nominativo = (*m_assegnazioni)[n - 1].nominativo;
    nuove.append(c);
    m_ultime.push_front(c);
    while (m_ultime.size() > static_cast<size_t>(MassimoStorico))
        m_ultime.pop_back();
}

QVector<Chiamata> ModelloTabellone::aggiornaAssegnazioni(const Assegnazioni& a) {
    // A station that changes mode starts from its new record as it stands: nothing to announce.
    m_assegnazioni = a;
    return {};
}

QVector<Chiamata> ModelloTabellone::aggiornaDisplay(const RecordsDisplay& d) {
    QVector<Chiamata> nuove;
    if (m_display && m_assegnazioni) {
        for (int n : m_postazioni) {
            if ((*m_assegnazioni)[n - 1].singola)
                continue;
            const RecordDisplay& prima = (*m_display)[n - 1];
            const RecordDisplay& ora = d[n - 1];
            if (ora.stato == nomi::StatoInCorso && ora.numero > 0 &&
                (ora.numero != prima.numero || prima.stato != nomi::StatoInCorso))
                registra(nuove, n, ora.numero);
        }
    }
    m_display = d;
    return nuove;
}

QVector<Chiamata> ModelloTabellone::aggiornaSingoli(const RecordsSingoli& s) {
    QVector<Chiamata> nuove;
    if (m_singoli && m_assegnazioni) {
        for (int n : m_postazioni) {
            if (!(*m_assegnazioni)[n - 1].singola)
                continue;
            const qint32 numero = s[n - 1].numero;
            if (numero > 0 && numero != (*m_singoli)[n - 1].numero)
                registra(nuove, n, numero);
        }
    }
    m_singoli = s;
    return nuove;
}

QVector<Tessera> ModelloTabellone::tessere() const {
    QVector<Tessera> t;
    for (int n : m_postazioni) {
        Tessera x;
        x.postazione = n;
        if (m_assegnazioni) {
            x.singola = (*m_assegnazioni)[n - 1].singola;
            if (m_nominativi)
                x.nominativo = (*m_assegnazioni)[n - 1].nominativo;
        }
        if (x.singola) {
            if (m_singoli) {
                x.numero = (*m_singoli)[n - 1].numero;
                x.stato = x.numero > 0 ? StatoTessera::InCorso : StatoTessera::Assente;
            }
        } else if (m_display) {
            const RecordDisplay& r = (*m_display)[n - 1];
            x.numero = r.numero;
            if (r.numero == 0 || r.stato == nomi::StatoAssente)
                x.stato = StatoTessera::Assente;
            else if (r.stato == nomi::StatoAttesa)
                x.stato = StatoTessera::Attesa;
            else if (r.stato == nomi::StatoInCorso)
                x.stato = StatoTessera::InCorso;
        }
        t.append(x);
    }
    return t;
}

void CodaAnnunci::accoda(int postazione, qint32 numero) {
    for (Annuncio& a : m_coda) {
        if (a.postazione == postazione) {
            a.numero = numero;
            return;
        }
    }
    m_coda.push_back({postazione, numero});
}

std::optional<Annuncio> CodaAnnunci::prossimo() {
    if (m_coda.empty())
        return std::nullopt;
    const Annuncio a = m_coda.front();
    m_coda.pop_front();
    return a;
}

} // namespace qvr::tabellone
