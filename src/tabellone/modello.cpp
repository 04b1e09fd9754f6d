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

QList<int> tutteLePostazioni() {
    QList<int> r;
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        r.append(n);
    return r;
}

ModelloTabellone::ModelloTabellone(QList<int> postazioni, bool nominativi)
    : m_nominativi(nominativi) {
    for (int n : postazioni)
        if (n >= 1 && n <= nomi::NumeroPostazioni && !m_postazioni.contains(n))
            m_postazioni.append(n);
    std::sort(m_postazioni.begin(), m_postazioni.end());
}

void ModelloTabellone::registra(QVector<Chiamata>& trovate) {
    std::stable_sort(trovate.begin(), trovate.end(), [this](const Chiamata& a, const Chiamata& b) {
        const quint64 ta = m_turno[a.postazione - 1], tb = m_turno[b.postazione - 1];
        if (ta != tb)
            return ta > tb;
        return a.postazione < b.postazione;
    });
    const QDateTime adesso = QDateTime::currentDateTime();
    for (Chiamata& c : trovate) {
        c.ora = adesso;
        if (m_nominativi && m_assegnazioni)
            c.nominativo = (*m_assegnazioni)[c.postazione - 1].nominativo;
        m_turno[c.postazione - 1] = ++m_turni;
        m_ultime.push_front(c);
    }
    while (m_ultime.size() > static_cast<size_t>(MassimoStorico))
        m_ultime.pop_back();
}

QVector<Chiamata> ModelloTabellone::aggiorna(const std::optional<Assegnazioni>& a,
                                             const std::optional<RecordsDisplay>& d,
                                             const std::optional<RecordsSingoli>& s) {
    // A station that changes mode starts from its new record as it stands: nothing to announce.
    if (a)
        m_assegnazioni = a;
    QVector<Chiamata> trovate;
    if (d)
        trovaDisplay(*d, trovate);
    if (s)
        trovaSingoli(*s, trovate);
    registra(trovate);
    return trovate;
}

void ModelloTabellone::trovaDisplay(const RecordsDisplay& d, QVector<Chiamata>& trovate) {
    const bool confronta = m_display && m_assegnazioni;
    if (!m_display)
        m_display = RecordsDisplay{};
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        RecordDisplay& prima = (*m_display)[n - 1];
        const RecordDisplay& ora = d[n - 1];
        if (ora.guasto.numero != 0) {
            prima.guasto = ora.guasto;
            continue;
        }
        if (confronta && m_displayNoti[n - 1] && mostrata(n) && !(*m_assegnazioni)[n - 1].singola &&
            ora.stato == nomi::StatoInCorso && ora.numero > 0 &&
            (ora.numero != prima.numero || prima.stato != nomi::StatoInCorso))
            trovate.append(Chiamata{n, ora.numero, {}, {}});
        prima = ora;
        m_displayNoti[n - 1] = true;
    }
}

void ModelloTabellone::trovaSingoli(const RecordsSingoli& s, QVector<Chiamata>& trovate) {
    const bool confronta = m_singoli && m_assegnazioni;
    if (!m_singoli)
        m_singoli = RecordsSingoli{};
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        RecordSingolo& prima = (*m_singoli)[n - 1];
        const RecordSingolo& ora = s[n - 1];
        if (ora.guasto.numero != 0) {
            prima.guasto = ora.guasto;
            continue;
        }
        if (confronta && m_singoliNoti[n - 1] && mostrata(n) && (*m_assegnazioni)[n - 1].singola &&
            ora.numero > 0 && ora.numero != prima.numero)
            trovate.append(Chiamata{n, ora.numero, {}, {}});
        prima = ora;
        m_singoliNoti[n - 1] = true;
    }
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
                x.guasto = (*m_singoli)[n - 1].guasto;
                x.numero = (*m_singoli)[n - 1].numero;
                x.stato = x.numero > 0 ? StatoTessera::InCorso : StatoTessera::Assente;
            }
        } else if (m_display) {
            const RecordDisplay& r = (*m_display)[n - 1];
            x.guasto = r.guasto;
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
