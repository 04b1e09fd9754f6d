#pragma once
// The kiosk without its window: what a press of a service does, which screen is shown, when it
// returns to the services, the status line for the office. The window only draws this.
//
// A press on the services screen asks the archive for one ticket (biglietti::emetti, refused
// while the kiosk is not in use) on the archive's own thread, and the window keeps painting
// meanwhile. The answer is shown as soon as it comes: the number, or "Servizio momentaneamente
// non disponibile" with the error in the status line until the archive answers again. An archive
// that has not answered within LimiteRisposta shows the unavailable screen at once and keeps it
// while the press is pending; no other press is taken until that one has its answer, so a ticket
// is never asked for twice. A pending ticket that is issued late is still shown and printed while
// its customer can be waiting for it (the return time after the unavailable screen); later than
// that it is not shown to whoever stands there now, and the status line tells the office its
// number. The number the screen shows is always one the archive has committed.
//
// Until the number screen returns to the services by itself, every further press issues nothing,
// so a double tap gives one ticket. Tickets are printed on a printing thread of their own, one at
// a time in the order issued; a printer that cannot print (a device that takes no bytes within
// Stampante::TempoDispositivo included) keeps the number on screen longer with "Stampante non
// disponibile: ricordi il suo numero" and tells the office in the status line until a ticket
// prints again.
//
// With the server's public address set, each ticket printed carries a QR code of its page on
// the phone; the codes' key is read from the archive's journal with the periodic check until the
// journal holds one (a ticket issued before that prints without the QR code), and again every
// RiletturaChiave.
//
// A kiosk without a PIN (a fresh install) serves nobody: it shows that a PIN must be set first.
// The kiosk's process waits at most AttesaArchivio for a busy database (the cursor's busy
// timeout, process-wide), so that a held lock becomes an answer instead of a long wait.

#include "archive/biglietti.h"
#include "totem/impostazioni_totem.h"
#include "totem/lavori.h"
#include "totem/stampa.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace qvr::totem {

enum class Schermata { Servizi, Numero, NonDisponibile, NonAttivo, Attesa, SenzaPin };

class Chiosco : public QObject {
    Q_OBJECT
public:
    explicit Chiosco(const ImpostazioniTotem& impostazioni, QObject* parent = nullptr);
    ~Chiosco() override;

    // Longest time from a press to its answer on screen, in milliseconds (a customer waits
    // about two seconds at most, a loaded PC's timers included).
    static constexpr int LimiteRisposta = 1500;
    // After this long without an answer the screen says to wait.
    static constexpr int AvvisoAttesa = 300;
    // The busy timeout of the kiosk's process, in milliseconds.
    static constexpr int AttesaArchivio = 1200;
    // The codes' key is read again this often (a journal started anew has a new one).
    static constexpr int RiletturaChiave = 60000;

    const ImpostazioniTotem& impostazioni() const { return m_imp; }
    void impostaImpostazioni(const ImpostazioniTotem& impostazioni);

    Schermata schermata() const { return m_schermata; }
    // The ticket on the number screen.
    const biglietti::Biglietto& biglietto() const { return m_biglietto; }
    QString servizioMostrato() const { return m_servizio; }
    bool stampanteNonDisponibile() const { return m_stampaFallita; }
    // The status line for the office: archive and printer problems, empty when all is well.
    QString stato() const;
    // A press waits for the archive's answer.
    bool inAttesa() const { return m_richiesta.has_value(); }

    // A press of the service at `indice` (0-based). True when a ticket was asked for.
    bool premi(int indice);
    // Asks the archive whether the kiosk is in use (and so whether it answers at all), and the
    // printer whether it can print. Run by a timer every few seconds, and at start; skipped while
    // the archive's thread is still busy.
    void controlla();

    // Tests wait for the print of the last ticket: true while one is queued or printing.
    bool stampaInCorso() const { return m_stampeInCorso > 0; }
    // Replaces the printing (tests; the default prints through Stampante on the printing thread,
    // the replacement runs on the kiosk's thread).
    void impostaStampa(std::function<EsitoStampa(const DatiBiglietto&)> stampa);
    // Replaces the issuing of a ticket (tests; runs on the archive's thread).
    void impostaEmissione(Emissione emissione);
    // How long a device file may take to accept a ticket, from its issue (tests).
    void impostaTempoStampa(int millisecondi) { m_tempoStampa = millisecondi; }

signals:
    void schermataCambiata();
    void statoCambiato();
    void stampaFinita(bool riuscita);
    void controlloFinito();

private:
    struct Richiesta {
        quint64 id = 0;
        Servizio servizio;
        QElapsedTimer tempo;
        bool scaduta = false; // the unavailable screen was shown while it waited
    };

    void mostra(Schermata s, int secondi);
    Schermata schermataDiRiposo() const;
    void tornaAiServizi();
    void rispostaScaduta();
    void emesso(quint64 richiesta, int numero, int davanti, int coda);
    void nonEmesso(quint64 richiesta, int errore, const QString& testo);
    void controllato(bool attivo, int errore, const QString& testo);
    void stampa(const DatiBiglietto& dati);
    void stampaFinitaCon(quint64 lavoro, const EsitoStampa& esito);
    void impostaErroreArchivio(const QString& testo);

    ImpostazioniTotem m_imp;
    Schermata m_schermata = Schermata::Servizi;
    biglietti::Biglietto m_biglietto;
    QString m_servizio;
    bool m_stampaFallita = false;
    bool m_attivo = true;
    QString m_erroreArchivio;
    QString m_erroreStampante;
    QString m_nonConsegnato;
    int m_stampeInCorso = 0;
    int m_tempoStampa = Stampante::TempoDispositivo;
    quint64 m_ultimaRichiesta = 0;
    quint64 m_ultimaStampa = 0;
    quint64 m_stampaMostrata = 0; // the print of the ticket on the number screen
    std::optional<Richiesta> m_richiesta;
    bool m_controlloInCorso = false;
    QTimer m_ritorno;
    QTimer m_limite;
    QTimer m_avvisoAttesa;
    std::function<EsitoStampa(const DatiBiglietto&)> m_stampa;
    Emissione m_emissione;
    QByteArray m_chiave; // of the tickets' codes, read from the journal
    QElapsedTimer m_etaChiave;
    Filo<LavoroArchivio> m_archivio;
    Filo<LavoroStampa> m_stampante;
};

} // namespace qvr::totem
