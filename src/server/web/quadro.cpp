#include "server/web/quadro.h"

#include "archive/biglietti.h"
#include "registro/deposito.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <limits>

namespace qvr::web {

using registro::Tipo;

QByteArray jsonEvento(const registro::Evento& e) {
    QJsonObject o;
    o.insert(QStringLiteral("seq"), e.seq);
    o.insert(QStringLiteral("tipo"), registro::nomeTipo(e.tipo));
    o.insert(QStringLiteral("ora"), e.ora().toString(Qt::ISODateWithMs));
    switch (e.tipo) {
    case Tipo::Biglietto:
    case Tipo::Azzeramento:
        o.insert(QStringLiteral("sequenza"), e.sequenza);
        o.insert(QStringLiteral("numero"), e.numero);
        break;
    case Tipo::Chiamata:
        o.insert(QStringLiteral("postazione"), e.postazione);
        o.insert(QStringLiteral("numero"), e.numero);
        o.insert(QStringLiteral("singola"), e.singola);
        o.insert(QStringLiteral("richiamo"), e.richiamo);
        break;
    case Tipo::Attesa:
    case Tipo::Assente:
        o.insert(QStringLiteral("postazione"), e.postazione);
        o.insert(QStringLiteral("numero"), e.numero);
        break;
    case Tipo::InizioBuco:
    case Tipo::Perdita:
        o.insert(QStringLiteral("numero"), e.numero);
        break;
    default:
        break;
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Quadro::Quadro(size_t massimoEventi) : m_massimo(massimoEventi ? massimoEventi : 1) {}

std::optional<QString> Quadro::carica(const QString& archivio, int ore) {
    {
        std::lock_guard l(m_mutex);
        m_archivio = archivio;
    }
    std::vector<registro::Evento> letti;
    try {
        const auto r = registro::deposito(archivio);
        r->apriLettura();
        // Today's calls only: yesterday evening's are no call of the day the pages show.
        const qint64 dal =
            std::max(QDateTime::currentMSecsSinceEpoch() - qint64(ore) * 3600 * 1000,
                     QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch());
        r->leggi(dal, std::numeric_limits<qint64>::max(),
                 [&](const registro::Evento& e) { letti.push_back(e); });
    } catch (const ErroreQvr& e) {
        return e.testoCompleto();
    }
    std::lock_guard l(m_mutex);
    for (const registro::Evento& e : letti)
        aggiungiBloccato(e);
    m_cambio.notify_all();
    return std::nullopt;
}

void Quadro::aggiungi(const std::vector<registro::Evento>& eventi) {
    if (eventi.empty())
        return;
    // What the journal holds between the last event seen and this batch (written by another
    // recorder while this one waited for the lock).
    std::vector<registro::Evento> mancanti;
    QString archivio;
    qint64 ultimo = 0;
    {
        std::lock_guard l(m_mutex);
        archivio = m_archivio;
        ultimo = m_ultimo;
    }
    const qint64 primo = eventi.front().seq;
    if (ultimo > 0 && primo > ultimo + 1 && !archivio.isEmpty()) {
        try {
            const auto r = registro::deposito(archivio);
            r->apriLettura();
            // Times may go back with the clock: read a generous span and keep by number.
            const qint64 dal = QDateTime::currentMSecsSinceEpoch() - qint64(48) * 3600 * 1000;
            r->leggi(dal, std::numeric_limits<qint64>::max(), [&](const registro::Evento& e) {
                if (e.seq > ultimo && e.seq < primo)
                    mancanti.push_back(e);
            });
        } catch (const ErroreQvr&) {
            // What cannot be read is a gap the pages are told of (dopo() returns false).
        }
    }
    std::lock_guard l(m_mutex);
    for (const registro::Evento& e : mancanti)
        aggiungiBloccato(e);
    if (m_ultimo > 0 && primo > m_ultimo + 1) {
        // Still a gap: nothing before this batch can be continued from.
        m_eventi.clear();
        m_primoNoto = primo - 1;
    }
    for (const registro::Evento& e : eventi)
        aggiungiBloccato(e);
    m_cambio.notify_all();
}

void Quadro::aggiungiBloccato(const registro::Evento& e) {
    if (e.seq <= m_ultimo)
        return;
    if (m_eventi.empty() && m_ultimo == 0)
        m_primoNoto = e.seq - 1;
    m_eventi.push_back(
        {e.seq, e.tipo, e.postazione, e.numero, std::make_shared<const QByteArray>(jsonEvento(e))});
    m_ultimo = e.seq;
    m_biglietti.aggiungi(e);
    while (m_eventi.size() > m_massimo) {
        m_primoNoto = m_eventi.front().seq;
        m_eventi.pop_front();
    }
    if (e.tipo == Tipo::Chiamata) {
        m_chiamate.push_front(e);
        if (m_chiamate.size() > MassimoChiamate)
            m_chiamate.pop_back();
        if (e.singola)
            m_ultimaSingola = e.numero;
    } else if (e.tipo == Tipo::Azzeramento && e.sequenza == biglietti::SequenzaSingola) {
        m_ultimaSingola = 0;
    }
}

bool Quadro::dopo(qint64 dal, std::vector<EventoWeb>& fuori, size_t massimo) const {
    std::lock_guard l(m_mutex);
    if (dal < m_primoNoto || dal > m_ultimo)
        return false;
    // Sequence numbers held are increasing, not always contiguous: find the first after `dal`.
    auto it = std::upper_bound(m_eventi.begin(), m_eventi.end(), dal,
                               [](qint64 v, const EventoWeb& e) { return v < e.seq; });
    for (; it != m_eventi.end() && fuori.size() < massimo; ++it)
        fuori.push_back(*it);
    return true;
}

qint64 Quadro::ultimo() const {
    std::lock_guard l(m_mutex);
    return m_ultimo;
}

std::vector<registro::Evento> Quadro::ultimeChiamate() const {
    std::lock_guard l(m_mutex);
    return {m_chiamate.begin(), m_chiamate.end()};
}

qint32 Quadro::ultimaSingola() const {
    std::lock_guard l(m_mutex);
    return m_ultimaSingola;
}

bool Quadro::chiamataTenuta(int postazione, qint32 numero) const {
    std::lock_guard l(m_mutex);
    for (auto it = m_eventi.rbegin(); it != m_eventi.rend(); ++it)
        if (it->tipo == Tipo::Chiamata && it->postazione == postazione && it->numero == numero)
            return true;
    return false;
}

std::optional<StatoBiglietto> Quadro::biglietto(const QString& codice) const {
    std::lock_guard l(m_mutex);
    return m_biglietti.cerca(codice, QDateTime::currentMSecsSinceEpoch());
}

void Quadro::attendi(qint64 dal, std::chrono::steady_clock::time_point fino) const {
    std::unique_lock l(m_mutex);
    const quint64 sveglie = m_sveglie;
    m_cambio.wait_until(l, fino, [&] { return m_sveglie != sveglie || m_ultimo > dal; });
}

void Quadro::svegliaTutti() {
    std::lock_guard l(m_mutex);
    ++m_sveglie;
    m_cambio.notify_all();
}

} // namespace qvr::web
