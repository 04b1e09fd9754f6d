#pragma once
// What the web pages show of the journal: the events the recorder has written, held in memory
// (the most recent MassimoEventi of them) for the event streams, and the latest calls.
//
// The recorder hands over each batch once it is in Registro.mdb, with its sequence numbers; at
// start the events of the last hours are read from the journal itself, so a page that reconnects
// after a restart catches up from its last event id. A batch whose first sequence number does
// not follow the last one held (another recorder wrote meanwhile, before a handover) is preceded
// by what the journal holds in between.
//
// Every member may be called from any thread: the recorder's thread adds, the web server's
// threads read and wait.
#include "registro/registro.h"
#include "server/web/biglietti_web.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qvr::web {

// One event as the pages receive it: its sequence number and its JSON text.
struct EventoWeb {
    qint64 seq = 0;
    registro::Tipo tipo = registro::Tipo::Biglietto;
    int postazione = 0;
    qint32 numero = 0;
    std::shared_ptr<const QByteArray> json;
};

// The JSON object of a journal event (the recorder's own texts left out: they may name hosts
// and paths).
QByteArray jsonEvento(const registro::Evento& e);

class Quadro {
public:
    explicit Quadro(size_t massimoEventi = MassimoEventi);

    // Reads the events of the last `ore` hours, today's only, from the journal of `archivio` (a
    // folder or a server address); a missing or unreadable journal leaves the store empty and
    // returns its message.
    std::optional<QString> carica(const QString& archivio, int ore = 12);

    // A batch just written to the journal. Events at or below the last sequence number held are
    // ignored (never given twice).
    void aggiungi(const std::vector<registro::Evento>& eventi);

    // The events after `dal`, at most `massimo`. Returns false when `dal` is not a point this
    // store can continue from (older than what it holds, or beyond its last event: a journal
    // started anew): the client then has to fetch the state again.
    bool dopo(qint64 dal, std::vector<EventoWeb>& fuori, size_t massimo = 1000) const;
    qint64 ultimo() const;

    // The latest calls, the most recent first.
    std::vector<registro::Evento> ultimeChiamate() const;
    static constexpr size_t MassimoChiamate = 8;
    // The number of the latest call of the shared sequence since its last reset, 0 when none.
    qint32 ultimaSingola() const;
    // Whether a call of `numero` at `postazione` is among the events held.
    bool chiamataTenuta(int postazione, qint32 numero) const;

    // The ticket of `codice` among today's, as things stand now.
    std::optional<StatoBiglietto> biglietto(const QString& codice) const;

    // Waits until an event after `dal` is held, `fino` passes or svegliaTutti() is called.
    void attendi(qint64 dal, std::chrono::steady_clock::time_point fino) const;
    void svegliaTutti();

    static constexpr size_t MassimoEventi = 20000;

private:
    void aggiungiBloccato(const registro::Evento& e);

    const size_t m_massimo;
    QString m_archivio;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cambio;
    std::deque<EventoWeb> m_eventi;
    std::deque<registro::Evento> m_chiamate;
    qint64 m_ultimo = 0;
    qint64 m_primoNoto = 0; // the first sequence number after which nothing is missing
    qint32 m_ultimaSingola = 0;
    quint64 m_sveglie = 0;
    Biglietti m_biglietti;
};

} // namespace qvr::web
