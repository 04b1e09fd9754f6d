#include "totem/chiosco.h"

#include "archive/errori.h"

#include <QDateTime>
#include <QPointer>
#include <QThread>

namespace qvr::totem {

Chiosco::Chiosco(const ImpostazioniTotem& impostazioni, QObject* parent)
    : QObject(parent), m_imp(impostazioni) {
    m_ritorno.setSingleShot(true);
    connect(&m_ritorno, &QTimer::timeout, this, &Chiosco::tornaAiServizi);
}

void Chiosco::impostaImpostazioni(const ImpostazioniTotem& impostazioni) {
    m_imp = impostazioni;
    controlla();
}

void Chiosco::impostaStampa(std::function<EsitoStampa(const DatiBiglietto&)> stampa) {
    m_stampa = std::move(stampa);
}

QString Chiosco::stato() const {
    QStringList righe;
    if (!m_erroreArchivio.isEmpty())
        righe << m_erroreArchivio;
    if (!m_attivo && m_erroreArchivio.isEmpty())
        righe << QStringLiteral("Totem non attivo (RHDSN non è \"SI\")");
    if (!m_erroreStampante.isEmpty())
        righe << m_erroreStampante;
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

void Chiosco::tornaAiServizi() {
    mostra(m_attivo ? Schermata::Servizi : Schermata::NonAttivo, 0);
}

bool Chiosco::premi(int indice) {
    if (m_schermata != Schermata::Servizi || indice < 0 || indice >= m_imp.servizi.size())
        return false;
    const Servizio servizio = m_imp.servizi[indice];
    biglietti::Opzioni opzioni;
    opzioni.soloSeAttivo = true;
    try {
        m_biglietto = biglietti::emetti(m_imp.cartella, servizio.sequenza, opzioni);
    } catch (const ErroreQvr& e) {
        if (e.numero() == biglietti::ErroreTotemNonAttivo) {
            m_attivo = false;
            m_erroreArchivio.clear();
            emit statoCambiato();
            mostra(Schermata::NonAttivo, 0);
            return false;
        }
        m_erroreArchivio = e.testoCompleto();
        emit statoCambiato();
        mostra(Schermata::NonDisponibile, m_imp.ritorno);
        return false;
    }
    if (!m_erroreArchivio.isEmpty()) {
        m_erroreArchivio.clear();
        emit statoCambiato();
    }
    m_servizio = servizio.etichetta;
    m_stampaFallita = false;
    mostra(Schermata::Numero, m_imp.ritorno);

    DatiBiglietto dati{m_imp.ufficio, servizio.etichetta, m_biglietto.numero, m_biglietto.davanti,
                       QDateTime::currentDateTime()};
    ++m_stampeInCorso;
    if (m_stampa) {
        stampaFinitaCon(m_stampa(dati));
        return true;
    }
    // Printing may take a while (CUPS answering, a device file): off the user-interface thread,
    // so the number is already on screen.
    auto risultato = std::make_shared<EsitoStampa>();
    const Stampante stampante(m_imp);
    QThread* lavoro =
        QThread::create([stampante, dati, risultato] { *risultato = stampante.stampa(dati); });
    connect(lavoro, &QThread::finished, this, [this, lavoro, risultato] {
        lavoro->deleteLater();
        stampaFinitaCon(*risultato);
    });
    lavoro->start();
    return true;
}

void Chiosco::stampaFinitaCon(const EsitoStampa& esito) {
    --m_stampeInCorso;
    const QString prima = m_erroreStampante;
    if (esito.riuscita) {
        m_erroreStampante.clear();
    } else {
        m_erroreStampante = QStringLiteral("Stampa non riuscita: ") + esito.errore;
        m_stampaFallita = true;
        // The customer has no paper: the number stays on screen twice as long.
        if (m_schermata == Schermata::Numero)
            mostra(Schermata::Numero, 2 * m_imp.ritorno);
    }
    if (prima != m_erroreStampante)
        emit statoCambiato();
    emit stampaFinita(esito.riuscita);
}

void Chiosco::controlla() {
    const QString primaArchivio = m_erroreArchivio;
    const bool primaAttivo = m_attivo;
    const QString primaStampante = m_erroreStampante;
    try {
        m_attivo = biglietti::totemAttivo(m_imp.cartella);
        m_erroreArchivio.clear();
    } catch (const ErroreQvr& e) {
        // Not known: a press tries the archive and says the service is unavailable.
        m_attivo = true;
        m_erroreArchivio = e.testoCompleto();
    }
    if (!m_stampa && m_stampeInCorso == 0 && !m_erroreStampante.isEmpty()) {
        // A printer that failed is asked again until it can print.
        const QString motivo = Stampante(m_imp).problema();
        m_erroreStampante =
            motivo.isEmpty() ? QString() : QStringLiteral("Stampa non riuscita: ") + motivo;
    }
    if (primaArchivio != m_erroreArchivio || primaAttivo != m_attivo ||
        primaStampante != m_erroreStampante)
        emit statoCambiato();
    if (m_schermata == Schermata::Servizi && !m_attivo)
        mostra(Schermata::NonAttivo, 0);
    else if (m_schermata == Schermata::NonAttivo && m_attivo)
        mostra(Schermata::Servizi, 0);
}

} // namespace qvr::totem
