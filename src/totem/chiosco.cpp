#include "totem/chiosco.h"

#include "archive/cursore.h"
#include "archive/errori.h"
#include "registro/codice_biglietto.h"

#include <QDateTime>

namespace qvr::totem {

namespace {

biglietti::Biglietto emissioneDelChiosco(const QString& cartella, int sequenza) {
    biglietti::Opzioni opzioni;
    opzioni.soloSeAttivo = true;
    return biglietti::emetti(cartella, sequenza, opzioni);
}

bool diRiposo(Schermata s) {
    return s == Schermata::Servizi || s == Schermata::NonAttivo || s == Schermata::SenzaPin;
}

} // namespace

Chiosco::Chiosco(const ImpostazioniTotem& impostazioni, QObject* parent)
    : QObject(parent), m_imp(impostazioni), m_emissione(emissioneDelChiosco) {
    Cursore::impostaTimeoutOccupato(AttesaArchivio);
    m_ritorno.setSingleShot(true);
    connect(&m_ritorno, &QTimer::timeout, this, &Chiosco::tornaAiServizi);
    m_limite.setSingleShot(true);
    connect(&m_limite, &QTimer::timeout, this, &Chiosco::rispostaScaduta);
    m_avvisoAttesa.setSingleShot(true);
    connect(&m_avvisoAttesa, &QTimer::timeout, this, [this] {
        if (m_richiesta && m_schermata == Schermata::Servizi)
            mostra(Schermata::Attesa, 0);
    });
    connect(m_archivio.lavoro(), &LavoroArchivio::emesso, this, &Chiosco::emesso);
    connect(m_archivio.lavoro(), &LavoroArchivio::nonEmesso, this, &Chiosco::nonEmesso);
    connect(m_archivio.lavoro(), &LavoroArchivio::controllato, this, &Chiosco::controllato);
    connect(m_archivio.lavoro(), &LavoroArchivio::chiaveLetta, this, [this](const QByteArray& k) {
        m_chiave = k;
        m_etaChiave.start();
    });
    connect(m_stampante.lavoro(), &LavoroStampa::stampato, this,
            [this](quint64 lavoro, bool riuscita, const QString& errore) {
                stampaFinitaCon(lavoro, EsitoStampa{riuscita, 0, errore});
            });
    connect(m_stampante.lavoro(), &LavoroStampa::verificato, this, [this](const QString& motivo) {
        // Only a printer that failed is asked again, and only while nothing is being printed.
        if (m_erroreStampante.isEmpty() || m_stampeInCorso > 0)
            return;
        const QString prima = m_erroreStampante;
        m_erroreStampante =
            motivo.isEmpty() ? QString() : QStringLiteral("Stampa non riuscita: ") + motivo;
        if (prima != m_erroreStampante)
            emit statoCambiato();
    });
    m_schermata = schermataDiRiposo();
}

Chiosco::~Chiosco() = default;

void Chiosco::impostaImpostazioni(const ImpostazioniTotem& impostazioni) {
    if (impostazioni.cartella != m_imp.cartella)
        m_chiave.clear(); // another archive, another journal
    m_imp = impostazioni;
    if (diRiposo(m_schermata))
        mostra(schermataDiRiposo(), 0);
    controlla();
}

void Chiosco::impostaStampa(std::function<EsitoStampa(const DatiBiglietto&)> stampa) {
    m_stampa = std::move(stampa);
}

void Chiosco::impostaEmissione(Emissione emissione) {
    m_emissione = std::move(emissione);
}

QString Chiosco::stato() const {
    QStringList righe;
    if (!m_erroreArchivio.isEmpty())
        righe << m_erroreArchivio;
    if (!m_attivo && m_erroreArchivio.isEmpty())
        righe << QStringLiteral("Totem non attivo (RHDSN non è \"SI\")");
    if (!m_nonConsegnato.isEmpty())
        righe << m_nonConsegnato;
    if (!m_erroreStampante.isEmpty())
        righe << m_erroreStampante;
    if (!m_imp.haPin() && !m_imp.pinDanneggiato)
        righe << QStringLiteral("PIN dell'ufficio non impostato");
    return righe.join(QStringLiteral(" — "));
}

void Chiosco::mostra(Schermata s, int secondi) {
    m_schermata = s;
    if (secondi > 0)
        m_ritorno.start(secondi * 1000);
    else
        m_ritorno.stop();
    emit schermataCambiata();
}

Schermata Chiosco::schermataDiRiposo() const {
    if (!m_imp.haPin() && !m_imp.pinDanneggiato)
        return Schermata::SenzaPin;
    return m_attivo ? Schermata::Servizi : Schermata::NonAttivo;
}

void Chiosco::tornaAiServizi() {
    if (m_richiesta) // a pending press keeps its screen until its answer comes
        return;
    mostra(schermataDiRiposo(), 0);
}

void Chiosco::impostaErroreArchivio(const QString& testo) {
    if (m_erroreArchivio == testo)
        return;
    m_erroreArchivio = testo;
    emit statoCambiato();
}

bool Chiosco::premi(int indice) {
    if (m_schermata != Schermata::Servizi || m_richiesta || indice < 0 ||
        indice >= m_imp.servizi.size())
        return false;
    Richiesta r;
    r.id = ++m_ultimaRichiesta;
    r.servizio = m_imp.servizi[indice];
    r.tempo.start();
    m_richiesta = r;
    m_limite.start(LimiteRisposta);
    m_avvisoAttesa.start(AvvisoAttesa);
    m_archivio.avvia([id = r.id, emissione = m_emissione, cartella = m_imp.cartella,
                      sequenza = r.servizio.sequenza](LavoroArchivio* l) {
        l->emetti(id, emissione, cartella, sequenza);
    });
    return true;
}

void Chiosco::rispostaScaduta() {
    if (!m_richiesta)
        return;
    m_richiesta->scaduta = true;
    impostaErroreArchivio(QStringLiteral("L'archivio non risponde: biglietto richiesto da oltre "
                                         "%1 s, in attesa della risposta")
                              .arg(LimiteRisposta / 1000.0, 0, 'g', 2));
    mostra(Schermata::NonDisponibile, 0);
}

void Chiosco::emesso(quint64 richiesta, int numero, int davanti, int coda) {
    if (!m_richiesta || m_richiesta->id != richiesta)
        return;
    const Richiesta r = *m_richiesta;
    m_richiesta.reset();
    m_limite.stop();
    m_avvisoAttesa.stop();
    impostaErroreArchivio({});
    m_biglietto = biglietti::Biglietto{r.servizio.sequenza, numero, davanti, coda};
    const qint64 ritardo = r.tempo.elapsed();
    if (r.scaduta && ritardo > LimiteRisposta + m_imp.ritorno * 1000) {
        // Its customer has been told the service is unavailable and may have gone: the ticket is
        // counted but neither shown to whoever stands there now nor printed.
        m_nonConsegnato = QStringLiteral("Biglietto %1 di \"%2\" emesso in ritardo (%3 s) e "
                                         "non consegnato")
                              .arg(numero)
                              .arg(r.servizio.etichetta)
                              .arg(ritardo / 1000);
        emit statoCambiato();
        tornaAiServizi();
        return;
    }
    if (!m_nonConsegnato.isEmpty()) {
        m_nonConsegnato.clear();
        emit statoCambiato();
    }
    m_servizio = r.servizio.etichetta;
    m_stampaFallita = false;
    mostra(Schermata::Numero, m_imp.ritorno);
    DatiBiglietto dati(m_imp.ufficio, r.servizio.etichetta, numero, davanti,
                       QDateTime::currentDateTime());
    if (!m_imp.indirizzo.isEmpty() && !m_chiave.isEmpty())
        dati.qr = indirizzoBiglietto(
            m_imp.indirizzo,
            registro::codiceBiglietto(m_chiave, dati.quando.date(), r.servizio.sequenza, numero));
    stampa(dati);
}

void Chiosco::nonEmesso(quint64 richiesta, int errore, const QString& testo) {
    if (!m_richiesta || m_richiesta->id != richiesta)
        return;
    m_richiesta.reset();
    m_limite.stop();
    m_avvisoAttesa.stop();
    if (errore == biglietti::ErroreTotemNonAttivo) {
        m_attivo = false;
        impostaErroreArchivio({});
        emit statoCambiato();
        mostra(Schermata::NonAttivo, 0);
        return;
    }
    impostaErroreArchivio(testo);
    mostra(Schermata::NonDisponibile, m_imp.ritorno);
}

void Chiosco::stampa(const DatiBiglietto& dati) {
    const quint64 lavoro = ++m_ultimaStampa;
    m_stampaMostrata = lavoro;
    ++m_stampeInCorso;
    if (m_stampa) {
        stampaFinitaCon(lavoro, m_stampa(dati));
        return;
    }
    // One print at a time, in the order issued; the number is already on screen.
    m_stampante.avvia([lavoro, stampante = Stampante(m_imp), dati,
                       scadenza = QDeadlineTimer(m_tempoStampa)](LavoroStampa* l) {
        l->stampa(lavoro, stampante, dati, scadenza);
    });
}

void Chiosco::stampaFinitaCon(quint64 lavoro, const EsitoStampa& esito) {
    --m_stampeInCorso;
    const QString prima = m_erroreStampante;
    if (esito.riuscita) {
        m_erroreStampante.clear();
    } else {
        m_erroreStampante = QStringLiteral("Stampa non riuscita: ") + esito.errore;
        if (lavoro == m_stampaMostrata) {
            m_stampaFallita = true;
            // The customer has no paper: the number stays on screen twice as long.
            if (m_schermata == Schermata::Numero)
                mostra(Schermata::Numero, 2 * m_imp.ritorno);
        }
    }
    if (prima != m_erroreStampante)
        emit statoCambiato();
    emit stampaFinita(esito.riuscita);
}

void Chiosco::controlla() {
    if (!m_stampa && m_stampeInCorso == 0 && !m_erroreStampante.isEmpty())
        m_stampante.avvia(
            [stampante = Stampante(m_imp)](LavoroStampa* l) { l->verifica(stampante); });
    // One question at a time: a check or a press still waiting is answered first.
    if (m_controlloInCorso || m_richiesta)
        return;
    m_controlloInCorso = true;
    m_archivio.avvia([cartella = m_imp.cartella,
                      chiave = !m_imp.indirizzo.isEmpty() &&
                               (m_chiave.isEmpty() || m_etaChiave.hasExpired(RiletturaChiave))](
                         LavoroArchivio* l) { l->controlla(cartella, chiave); });
}

void Chiosco::controllato(bool attivo, int errore, const QString& testo) {
    m_controlloInCorso = false;
    const bool primaAttivo = m_attivo;
    const QString primaArchivio = m_erroreArchivio;
    // An archive that fails is not known to be off: a press tries it and says it is unavailable.
    m_attivo = errore == 0 ? attivo : true;
    // A press still waiting keeps its own text until its answer.
    if (!m_richiesta)
        m_erroreArchivio = errore == 0 ? QString() : testo;
    if (primaAttivo != m_attivo || primaArchivio != m_erroreArchivio)
        emit statoCambiato();
    if (m_schermata == Schermata::Servizi && !m_attivo)
        mostra(Schermata::NonAttivo, 0);
    else if (m_schermata == Schermata::NonAttivo && m_attivo)
        mostra(schermataDiRiposo(), 0);
    emit controlloFinito();
}

} // namespace qvr::totem
