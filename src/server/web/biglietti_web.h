#pragma once
// What the customer's page on the phone shows of one ticket: found by its code among today's
// tickets in the journal, its place in the queue of its sequence and the estimated wait.
//
// - Called: a call of the ticket's number in its sequence (a station's own sequence in standard
//   numbering, the shared one in single numbering) after the ticket was issued; the station of
//   the latest such call is the one shown.
// - People ahead: the tickets of the same sequence issued after the one the latest call of that
//   sequence served and before this one. A call that served a later ticket leaves this one
//   passed over.
// - The pace: the median time between successive calls of the sequence over the last hour
//   (recalls and pauses longer than half an hour left out), from at least three calls; the wait
//   is the pace times the calls still to come, less the time since the last call. Without a
//   pace there is no estimate.
//
// Only today's events count: the first event of a new day forgets the previous day's tickets,
// and a counter's reset the tickets of its sequence before it.
#include "registro/registro.h"

#include <QDate>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace qvr::web {

struct StatoBiglietto {
    enum class Fase { Attesa, Chiamato, Superato };
    int sequenza = 0;
    qint32 numero = 0;
    qint64 oraUtcMs = 0;
    Fase fase = Fase::Attesa;
    int davanti = 0;
    int postazione = 0;            // the station that called it, when called
    std::optional<qint64> attesaS; // the estimated wait in seconds, when a pace is known
};

// The estimate as the page says it, rounded to what it is worth: "circa un minuto",
// "circa 7 minuti" (whole minutes under ten), "circa 25 minuti" (fives under the hour),
// "circa 1 ora e 15 minuti" (quarters), "più di 3 ore".
QString testoAttesa(qint64 secondi);

class Biglietti {
public:
    // A journal event, in sequence order (events that are no ticket, call or reset are ignored).
    void aggiungi(const registro::Evento& e);
    // The ticket of `codice` as things stand at `adessoMs`; nothing for a code no ticket of
    // today has.
    std::optional<StatoBiglietto> cerca(const QString& codice, qint64 adessoMs) const;

    // Events kept in a day at most (far more than an office issues and calls).
    static constexpr size_t MassimoVoci = 200000;

private:
    struct Voce {
        registro::Tipo tipo;
        int sequenza; // of a ticket or reset, and of a call (its station's, or the shared one)
        qint32 numero;
        int postazione;
        bool richiamo;
        qint64 oraUtcMs;
    };
    std::optional<qint64> passo(int sequenza, qint64 adessoMs) const;

    QDate m_giorno;
    std::vector<Voce> m_voci;
    QHash<QString, size_t> m_codici; // code -> its ticket in m_voci
};

} // namespace qvr::web
