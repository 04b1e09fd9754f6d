#pragma once
// The office's web pages and their data, served by qvr-server over HTTP:
//
//   /              leads to /tabellone
//   /tabellone     the waiting-room board (?postazioni=1,2,3 the stations shown, ?nominativi=1
//                  the station users' names)
//   /risorse/...   the board's script and style sheet
//   /api/stato     JSON: every station's number and state, the people waiting per sequence,
//                  the latest calls (?nominativi=1 with the users' names)
//   /api/eventi    the journal's events as server-sent events, each with its sequence number
//                  as id; Last-Event-ID or ?dal=N replays what came after N
//   /biglietto/CODICE      the customer's ticket on the phone: number, service, people ahead,
//                          estimated wait, and the station when it is called
//   /api/biglietto/CODICE  the same as JSON (a code not well formed 400, unknown 404)
//
// Nothing here changes the archive or the journal: the archive is read with the board's
// read-only reader, the journal's events come from the recorder (Quadro).
//
// The server runs on threads of its own, one per connection, so a slow client never holds the
// recorder or another client. What keeps it safe on an office network: GET and HEAD only, exact
// paths and known query parameters (anything else 404/400), a limit on open connections (the
// listener stops accepting beyond it), on event streams per address, on the request's size and
// on the requests per second of one address; idle, half-open and never-reading connections are
// closed by the read, keep-alive and write timeouts. Every response forbids framing and sniffing
// and carries a Content-Security-Policy that admits the server's own resources only.
#include "server/web/quadro.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace qvr::web {

struct OpzioniWeb {
    QString indirizzo = QStringLiteral("0.0.0.0");
    int porta = 8080; // 0: any free port (read back with ServerWeb::porta())
    int massimoConnessioni = 1000;
    // Event streams open at once from one address (0: no limit).
    int flussiPerIndirizzo = 50;
    // Requests of one address: `richiesteAlSecondo` on average, bursts up to `raffica`.
    double richiesteAlSecondo = 20;
    double raffica = 100;
    // Whether the two limits per address apply to loopback addresses too. By default they do
    // not: a reverse proxy on the same machine connects from there for every client, and
    // applies limits of its own.
    bool limitaLoopback = false;
    int timeoutLetturaMs = 5000;
    int timeoutScritturaMs = 5000;
    int timeoutInattivoS = 2; // between two requests on a kept connection (and at the stop)
    size_t massimoCorpo = 4096;
    int battitoMs = 1000; // a stream with no event gets a heartbeat this often
    // The services' names on the ticket page, by sequence (1..11); an empty one is named by
    // nomeServizio().
    QStringList servizi;
};

// A sequence's name on the ticket page when the settings give none: "Postazione N" for a
// station's own sequence, "Numerazione unica" for the shared one.
QString nomeServizio(const OpzioniWeb& o, int sequenza);

// The services' names from the settings file's [Servizi] group (P1=Anagrafe ... P11=...).
void leggiServizi(const QString& fileImpostazioni, OpzioniWeb& o);

// "INDIRIZZO:PORTA" ("[::1]:8080" for IPv6, ":8080" every IPv4 address); nullopt when it is
// not one.
std::optional<std::pair<QString, int>> leggiAscolta(const QString& testo);

// The limits from the settings file's [Web] group (MassimoConnessioni, FlussiPerIndirizzo,
// RichiesteAlSecondo, Raffica): a key missing or not a number in range keeps its default, and
// is named in the returned list.
QStringList leggiLimiti(const QString& fileImpostazioni, OpzioniWeb& o);

class ServerWeb {
public:
    // `cartella`: the archive folder, as the settings hold it.
    ServerWeb(const QString& cartella, Quadro& quadro, OpzioniWeb opzioni = {});
    ~ServerWeb();
    ServerWeb(const ServerWeb&) = delete;
    ServerWeb& operator=(const ServerWeb&) = delete;

    // Binds the address and starts serving on its own thread. The message of a failure
    // (address in use, not an address of this machine...) when it cannot.
    std::optional<QString> avvia();
    // Closes the streams and the listener and waits for the connections' threads.
    void ferma();

    int porta() const;
    int connessioniAperte() const;
    int flussiAperti() const;

private:
    class Dentro;
    std::unique_ptr<Dentro> d;
};

} // namespace qvr::web
