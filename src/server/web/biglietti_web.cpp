#include "server/web/biglietti_web.h"

#include "archive/biglietti.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace qvr::web {

using registro::Tipo;

namespace {
constexpr qint64 FinestraPassoMs = 3600 * 1000;
constexpr qint64 PausaMs = 30 * 60 * 1000;
constexpr size_t IntervalliMinimi = 2;
} // namespace

QString testoAttesa(qint64 secondi) {
    const double minuti = std::max<qint64>(secondi, 0) / 60.0;
    if (minuti < 1.5)
        return QStringLiteral("circa un minuto");
    if (minuti < 9.5)
        return QStringLiteral("circa %1 minuti").arg(std::lround(minuti));
    if (minuti < 57.5) {
        const long m = std::max(10L, std::lround(minuti / 5) * 5);
        return QStringLiteral("circa %1 minuti").arg(m);
    }
    if (minuti > 180)
        return QStringLiteral("più di 3 ore");
    const long quarti = std::lround(minuti / 15);
    const long ore = quarti / 4, resto = (quarti % 4) * 15;
    const QString testoOre = ore == 1 ? QStringLiteral("1 ora") : QStringLiteral("%1 ore").arg(ore);
    return resto == 0 ? QStringLiteral("circa ") + testoOre
                      : QStringLiteral("circa %1 e %2 minuti").arg(testoOre).arg(resto);
}

void Biglietti::aggiungi(const registro::Evento& e) {
    if (e.tipo != Tipo::Biglietto && e.tipo != Tipo::Chiamata && e.tipo != Tipo::Azzeramento)
        return;
    const QDate giorno = e.data();
    if (giorno != m_giorno) {
        if (m_giorno.isValid() && giorno < m_giorno)
            return; // a clock set back across midnight: today goes on
        m_giorno = giorno;
        m_voci.clear();
        m_codici.clear();
    }
    if (m_voci.size() >= MassimoVoci)
        return;
    Voce v{e.tipo, e.sequenza, e.numero, e.postazione, e.richiamo, e.oraUtcMs};
    if (e.tipo == Tipo::Chiamata)
        v.sequenza = e.singola ? biglietti::SequenzaSingola : e.postazione;
    if (e.tipo == Tipo::Biglietto && !e.codice.isEmpty())
        m_codici.insert(e.codice, m_voci.size());
    m_voci.push_back(v);
}

std::optional<qint64> Biglietti::passo(int sequenza, qint64 adessoMs) const {
    std::vector<qint64> intervalli;
    qint64 dopo = -1;
    for (auto it = m_voci.rbegin(); it != m_voci.rend(); ++it) {
        if (it->tipo != Tipo::Chiamata || it->sequenza != sequenza || it->richiamo)
            continue;
        if (adessoMs - it->oraUtcMs > FinestraPassoMs)
            break;
        if (dopo >= 0 && dopo - it->oraUtcMs <= PausaMs)
            intervalli.push_back(dopo - it->oraUtcMs);
        dopo = it->oraUtcMs;
    }
    if (intervalli.size() < IntervalliMinimi)
        return std::nullopt;
    std::nth_element(intervalli.begin(), intervalli.begin() + qsizetype(intervalli.size() / 2),
                     intervalli.end());
    return intervalli[intervalli.size() / 2];
}

std::optional<StatoBiglietto> Biglietti::cerca(const QString& codice, qint64 adessoMs) const {
    // Yesterday's tickets are gone once the day changes, before today's first event too.
    if (QDateTime::fromMSecsSinceEpoch(adessoMs).date() != m_giorno)
        return std::nullopt;
    const auto trovato = m_codici.constFind(codice);
    if (trovato == m_codici.constEnd())
        return std::nullopt;
    const size_t mio = *trovato;
    const Voce& b = m_voci[mio];
    StatoBiglietto s;
    s.sequenza = b.sequenza;
    s.numero = b.numero;
    s.oraUtcMs = b.oraUtcMs;
    // The tickets of the sequence since its last reset, in order; `posizione` is this one's.
    std::vector<size_t> biglietti;
    qint64 posizione = -1;
    qint64 servito = -1; // the position of the ticket the latest call served
    qint64 ultimaChiamataMs = -1;
    for (size_t i = 0; i < m_voci.size(); ++i) {
        const Voce& v = m_voci[i];
        if (v.sequenza != b.sequenza)
            continue;
        if (v.tipo == Tipo::Azzeramento) {
            if (i > mio)
                break; // a new day of the sequence: this ticket is of the one before
            biglietti.clear();
            servito = -1;
        } else if (v.tipo == Tipo::Biglietto) {
            if (i == mio)
                posizione = qint64(biglietti.size());
            biglietti.push_back(i);
        } else {
            // The latest ticket of that number not called yet: the one this call serves.
            for (qint64 k = qint64(biglietti.size()) - 1; k >= 0; --k)
                if (m_voci[biglietti[size_t(k)]].numero == v.numero) {
                    servito = k;
                    break;
                }
            ultimaChiamataMs = v.oraUtcMs;
            if (i > mio && v.numero == b.numero) {
                s.fase = StatoBiglietto::Fase::Chiamato;
                s.postazione = v.postazione;
            }
        }
    }
    if (s.fase == StatoBiglietto::Fase::Chiamato)
        return s;
    if (servito > posizione) {
        s.fase = StatoBiglietto::Fase::Superato;
        return s;
    }
    s.davanti = int(posizione - servito - 1);
    if (const auto p = passo(b.sequenza, adessoMs)) {
        const qint64 trascorsi = ultimaChiamataMs >= 0 ? adessoMs - ultimaChiamataMs : 0;
        s.attesaS = std::max(*p, (s.davanti + 1) * *p - trascorsi) / 1000;
    }
    return s;
}

} // namespace qvr::web
