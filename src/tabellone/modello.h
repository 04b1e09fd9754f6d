#pragma once
// The board's model, without a window: what the archive's records mean for the board (the
// stations' tiles, the calls found between two reads, the latest calls) and the queue of
// announcements. The window shows it; tests drive it directly.
#include "archive/lettore.h"
#include "archive/nomi.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>

#include <deque>
#include <optional>

namespace qvr::tabellone {

// Every station of the office, 1..nomi::NumeroPostazioni: what a board shows unless told.
QList<int> tutteLePostazioni();

// One call shown and announced.
struct Chiamata {
    int postazione = 0;
    qint32 numero = 0;
    QString nominativo; // the station user's name, when the board shows names
    QDateTime ora;
    bool operator==(const Chiamata& a) const {
        return postazione == a.postazione && numero == a.numero;
    }
};

enum class StatoTessera { Assente, Attesa, InCorso };

// A station's tile: its number and state as the archive holds them now.
struct Tessera {
    int postazione = 0;
    qint32 numero = 0;
    StatoTessera stato = StatoTessera::Assente;
    bool singola = false;
    QString nominativo;
    GuastoRecord guasto; // the station's record could not be read: shown as a fault
};

// The caption of a tile's state: "In corso...", "Attendere...", "Assente...".
QString testoStato(StatoTessera s);

class ModelloTabellone {
public:
    // `postazioni`: the stations shown (1..10); calls of the others are ignored.
    explicit ModelloTabellone(QList<int> postazioni = tutteLePostazioni(), bool nominativi = false);

    // What one poll read, in one step; returns the calls found since the previous read of the
    // same records, in the order they are announced (the last one is the "last call").
    //
    // The first read of each kind only sets the starting point: a board that starts announces
    // nothing of what happened before it. A station's mode decides which of its records counts:
    // NumeriCode<n> for standard numbering (state 3 with a number that is new, or that comes
    // back to state 3), NumerazioneSingle<n> for single numbering (a new NUMERO). A station
    // whose record is at fault keeps its last good values for the comparison, so that the
    // record coming back as it was is no new call; a station first read at fault starts from
    // its first good record.
    //
    // Order within one poll: the records hold no time, so calls found in the same poll (25 ms)
    // count as simultaneous. They are given so that the station whose previous call on the
    // board is the most recent comes first and the station shown least recently (or never)
    // comes last, ties by station number: the "last call" panel, which stays in view longest,
    // goes to the desk that has not had it for the longest time, and no station always wins
    // it (station order would give it to the highest station every time).
    QVector<Chiamata> aggiorna(const std::optional<Assegnazioni>& a,
                               const std::optional<RecordsDisplay>& d,
                               const std::optional<RecordsSingoli>& s);
    QVector<Chiamata> aggiornaAssegnazioni(const Assegnazioni& a) {
        return aggiorna(a, std::nullopt, std::nullopt);
    }
    QVector<Chiamata> aggiornaDisplay(const RecordsDisplay& d) {
        return aggiorna(std::nullopt, d, std::nullopt);
    }
    QVector<Chiamata> aggiornaSingoli(const RecordsSingoli& s) {
        return aggiorna(std::nullopt, std::nullopt, s);
    }

    QVector<Tessera> tessere() const;
    // The latest calls, the most recent first (at most `MassimoStorico`).
    const std::deque<Chiamata>& ultime() const { return m_ultime; }
    static constexpr int MassimoStorico = 8;

    QList<int> postazioni() const { return m_postazioni; }
    bool nominativi() const { return m_nominativi; }

private:
    bool mostrata(int n) const { return m_postazioni.contains(n); }
    void trovaDisplay(const RecordsDisplay& d, QVector<Chiamata>& trovate);
    void trovaSingoli(const RecordsSingoli& s, QVector<Chiamata>& trovate);
    void registra(QVector<Chiamata>& trovate);

    QList<int> m_postazioni;
    bool m_nominativi;
    std::optional<Assegnazioni> m_assegnazioni;
    // The last good record of each station, with the current fault when there is one;
    // `m_...Noti` tells which stations have had a good record at all.
    std::optional<RecordsDisplay> m_display;
    std::optional<RecordsSingoli> m_singoli;
    std::array<bool, nomi::NumeroPostazioni> m_displayNoti{};
    std::array<bool, nomi::NumeroPostazioni> m_singoliNoti{};
    // For each station, the turn of its latest call shown (0: none yet).
    std::array<quint64, nomi::NumeroPostazioni> m_turno{};
    quint64 m_turni = 0;
    std::deque<Chiamata> m_ultime;
};

// An announcement waiting to be spoken.
struct Annuncio {
    int postazione = 0;
    qint32 numero = 0;
};

// Announcements in call order: none dropped, none spoken twice; a station that calls again
// before its announcement's turn has it spoken once, with its latest number, in its place.
class CodaAnnunci {
public:
    void accoda(int postazione, qint32 numero);
    std::optional<Annuncio> prossimo();
    int dimensione() const { return static_cast<int>(m_coda.size()); }
    bool vuota() const { return m_coda.empty(); }
    void svuota() { m_coda.clear(); }

private:
    std::deque<Annuncio> m_coda;
};

// "Numero 57, postazione 3": the text the voice speaks (the synthesiser reads the figures in
// Italian words).
QString testoAnnuncio(int postazione, qint32 numero);

} // namespace qvr::tabellone
