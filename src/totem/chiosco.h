#pragma once
// The kiosk without its window: what a press of a service does, which screen is shown, when it
// returns to the services, the status line for the office. The window only draws this.
//
// A press on the services screen issues one ticket (biglietti::emetti, refused while the kiosk
// is not in use) and shows its number at once; the ticket is printed off the user-interface
// thread afterwards. Until the number screen returns to the services by itself, every further
// press issues nothing, so a double tap gives one ticket. A failure of the archive shows
// "Servizio momentaneamente non disponibile" and keeps the error in the status line until the
// archive answers again; a printer that cannot print keeps the number on screen longer with
// "Stampante non disponibile: ricordi il suo numero" and tells the office in the status line
// until a ticket prints again.

#include "archive/biglietti.h"
#include "totem/impostazioni_totem.h"
#include "totem/stampa.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace qvr::totem {

enum class Schermata { Servizi, Numero, NonDisponibile, NonAttivo };

class Chiosco : public QObject {
    Q_OBJECT
public:
    explicit Chiosco(const ImpostazioniTotem& impostazioni, QObject* parent = nullptr);

    const ImpostazioniTotem& impostazioni() const { return m_imp; }
    void impostaImpostazioni(const ImpostazioniTotem& impostazioni);

    Schermata schermata() const { return m_schermata; }
    // The ticket on the number screen.
    const biglietti::Biglietto& biglietto() const { return m_biglietto; }
    QString servizioMostrato() const { return m_servizio; }
    bool stampanteNonDisponibile() const { return m_stampaFallita; }
    // The status line for the office: archive and printer problems, empty when all is well.
    QString stato() const;

    // A press of the service at `indice` (0-based). True when a ticket was issued.
    bool premi(int indice);
    // Asks the archive whether the kiosk is in use (and so whether it answers at all), and the
    // printer whether it can print. Run by a timer every few seconds, and at start.
    void controlla();

    // Tests wait for the print of the last ticket: true once it ended (either way).
    bool stampaInCorso() const { return m_stampeInCorso > 0; }
    // Replaces the printing (tests; the default prints through Stampante).
    void impostaStampa(std::function<EsitoStampa(const DatiBiglietto&)> stampa);

signals:
    void schermataCambiata();
    void statoCambiato();
    void stampaFinita(bool riuscita);

private:
    void mostra(Schermata s, int secondi);
    void tornaAiServizi();
    void stampaFinitaCon(const EsitoStampa& esito);

    ImpostazioniTotem m_imp;
    Schermata m_schermata = Schermata::Servizi;
    biglietti::Biglietto m_biglietto;
    QString m_servizio;
    bool m_stampaFallita = false;
    bool m_attivo = true;
    QString m_erroreArchivio;
    QString m_erroreStampante;
    int m_stampeInCorso = 0;
    QTimer m_ritorno;
    std::function<EsitoStampa(const DatiBiglietto&)> m_stampa;
};

} // namespace qvr::totem
