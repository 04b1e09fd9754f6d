#pragma once
// The figures of the journal: per day, per sequence and per station, tickets, calls, recalls,
// tickets never called, the waiting time from a ticket to its first call and the time at the
// desk per call; hour by hour, the tickets, the calls, the waiting time and the people waiting;
// and the spans the journal does not cover.
//
// How tickets meet their calls:
// - A day is a local calendar day; nothing is matched across two days.
// - A station in standard numbering calls from its own sequence (P1..P10 for stations 1..10),
//   a station in single numbering from the shared one (P11), which the kiosk's P11 tickets and
//   every single-numbering station share.
// - A call of number n takes the latest ticket numbered n of its sequence that was issued before
//   it and not called yet, since the sequence's counter last went back to 0: after the wrap
//   past 99 a number is issued again, and the new ticket is the one called.
// - A call marked as a recall, or of a number whose ticket was already called, is a recall: it
//   counts among the calls and the recalls, not again for the waiting time. A call of a number
//   no ticket stands for (the kiosk not in use) counts as a call without a waiting time.
// - Tickets left without a call at the end of their day (or when their counter went back to 0)
//   were never called.
// - The time at the desk of a call runs to the same station's next call or absence on the same
//   day; a call followed by a span the journal does not cover, or by nothing, has none.
// - People waiting: tickets issued and not yet called (the never-called ones until the last
//   event of their day); per hour, the most at any moment of it.
//
// Times are in seconds. The median of an even count is the mean of the two middle values; the
// 90th percentile is the nearest-rank one (the value at rank ceil(0.9 n)).
#include "registro/registro.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <array>
#include <map>
#include <vector>

namespace qvr::statistiche {

struct Tempi {
    int conteggio = 0;
    double mediana = 0;
    double percentile90 = 0;
    double massimo = 0;
    double media = 0;
    static Tempi da(std::vector<double> valori);
};

struct Voce {
    int biglietti = 0;
    int chiamate = 0;
    int richiami = 0;
    int maiChiamati = 0;
    Tempi attesa;   // ticket to first call
    Tempi servizio; // time at the desk per call
};

struct Ora {
    int biglietti = 0;
    int chiamate = 0;
    Tempi attesa;        // of the tickets issued in that hour and called
    int inAttesaMax = 0; // the most people waiting at any moment of the hour
};

// A span the journal does not cover: the archive unreadable, or no recorder running.
struct Buco {
    QDateTime inizio;
    QDateTime fine;
    QString motivo;
};

struct Giorno {
    QDate data;
    Voce totale;
    std::map<int, Voce> perSequenza;   // 1..11
    std::map<int, Voce> perPostazione; // 1..10
    std::array<Ora, 24> ore{};
};

struct Risultato {
    QDate dal;
    QDate al;
    std::vector<Giorno> giorni; // only days with events of the office, in date order
    Voce totale;
    std::map<int, Voce> perSequenza;
    std::map<int, Voce> perPostazione;
    std::array<Ora, 24> ore{}; // over the whole period
    std::vector<Buco> buchi;
    int eventiPersi = 0; // events the recorder could not keep (it says how many)
    bool vuoto() const { return giorni.empty(); }
};

// Computes the figures of the events (in sequence order) whose local date lies in [dal, al].
class Calcolatore {
public:
    Calcolatore(QDate dal, QDate al);
    ~Calcolatore();
    Calcolatore(const Calcolatore&) = delete;
    Calcolatore& operator=(const Calcolatore&) = delete;
    void aggiungi(const registro::Evento& e);
    Risultato risultato();

private:
    struct Stato;
    Stato* d;
};

Risultato calcola(const std::vector<registro::Evento>& eventi, QDate dal, QDate al);
// The figures of the journal file Registro.mdb (opened read-only).
Risultato calcola(const QString& fileRegistro, QDate dal, QDate al);
// The same for any journal (opened here read-only).
Risultato calcola(registro::Deposito& r, QDate dal, QDate al);

// "P1".."P10", "P11 (singola)"; "Postazione 3".
QString nomeSequenza(int s);
// 75 s as "1:15", 3725 s as "1:02:05"; "-" for no value.
QString durata(double secondi, bool presente = true);

// The short table for the terminal, in Italian.
QString tabella(const Risultato& r);
// The CSV for a spreadsheet set to Italian: UTF-8 with a byte order mark, ";" between fields,
// decimal comma, CR LF line ends; times in minutes.
QByteArray csv(const Risultato& r);

} // namespace qvr::statistiche
