#pragma once
// What the archive's records mean for the journal: the events found between two reads of the
// same records. No file is touched here; the recorder reads, this class compares, tests drive
// it with records of their own.
//
// - Kiosk counters (P1..P11): a counter that moved up by k issued k tickets, numbered from the
//   old value + 1; one that went below its old value went round after 99 when the wrap setting
//   of its numbering mode is on and the old value was at most 99 (old + 1 .. 99, then 1 .. new),
//   otherwise it was set back to 0 (a new day) and then moved up to the new value. A counter
//   now at 0 is a reset.
// - A station in standard numbering (its display record): a call when the state is 3 with a
//   number above 0 that is new, or that comes back to state 3 (a recall); waiting when the
//   state becomes 2; absent when the state becomes 1 or the number 0.
// - A station in single numbering (its single-numbering record): a call for every new NUMERO
//   above 0, drawn from the shared sequence.
// - A station that changes numbering mode starts from its records as they stand.
//
// The first read of each kind only sets the starting point, unless a saved state (salva(),
// kept in the journal with the events) says what the records were when the previous recorder
// last wrote: then what changed since is recorded too, and nothing is recorded twice.
#include "archive/biglietti.h"
#include "archive/lettore.h"
#include "registro/letture.h"
#include "registro/registro.h"

#include <QDateTime>

#include <optional>
#include <vector>

namespace qvr::registro {

class Osservatore {
public:
    // The largest number of tickets a single move of a counter records; a larger jump (a
    // counter set by hand) records only a reset to the new value.
    static constexpr qint32 MassimoSalto = 10000;

    std::vector<Evento> aggiornaRegole(const biglietti::Regole& r);
    std::vector<Evento> aggiornaAssegnazioni(const Assegnazioni& a);
    std::vector<Evento> aggiornaContatori(const Contatori& c, const QDateTime& ora);
    std::vector<Evento> aggiornaDisplay(const RecordsDisplay& d, const QDateTime& ora);
    std::vector<Evento> aggiornaSingoli(const RecordsSingoli& s, const QDateTime& ora);

    // The records last seen, as text (JSON), and back; ripristina() of a text that cannot be
    // read leaves the observer as it was and returns false.
    QString salva() const;
    bool ripristina(const QString& testo);

    const std::optional<Contatori>& contatori() const { return m_contatori; }

private:
    std::optional<biglietti::Regole> m_regole;
    std::optional<std::array<bool, nomi::NumeroPostazioni>> m_singola;
    std::optional<Contatori> m_contatori;
    std::optional<RecordsDisplay> m_display;
    std::optional<RecordsSingoli> m_singoli;
};

} // namespace qvr::registro
