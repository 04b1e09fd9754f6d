#include "totem/lavori.h"

#include "archive/errori.h"
#include "registro/codice_biglietto.h"

#include <QThread>

namespace qvr::totem {

void LavoroArchivio::emetti(quint64 richiesta, const Emissione& emissione, const QString& cartella,
                            int sequenza) {
    try {
        const biglietti::Biglietto b = emissione(cartella, sequenza);
        emit emesso(richiesta, b.numero, b.davanti, b.coda);
    } catch (const ErroreQvr& e) {
        emit nonEmesso(richiesta, e.numero(), e.testoCompleto());
    }
}

void LavoroArchivio::controlla(const QString& cartella, bool chiave) {
    if (chiave) {
        // No key yet (no recorder has written the journal): no QR code until there is one.
        try {
            const QByteArray k = registro::chiaveDelRegistro(cartella);
            if (!k.isEmpty())
                emit chiaveLetta(k);
        } catch (const ErroreQvr&) {
        }
    }
    try {
        const bool attivo = biglietti::totemAttivo(cartella);
        emit controllato(attivo, 0, {});
    } catch (const ErroreQvr& e) {
        emit controllato(true, e.numero(), e.testoCompleto());
    }
}

void LavoroStampa::stampa(quint64 lavoro, const Stampante& stampante, const DatiBiglietto& dati,
                          QDeadlineTimer scadenza) {
    const EsitoStampa e = stampante.stampa(dati, scadenza);
    emit stampato(lavoro, e.riuscita, e.errore);
}

void LavoroStampa::verifica(const Stampante& stampante) {
    emit verificato(stampante.problema());
}

template <typename Lavoro> Filo<Lavoro>::Filo() : m_thread(new QThread), m_lavoro(new Lavoro) {
    m_lavoro->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_lavoro, &QObject::deleteLater);
    m_thread->start();
}

template <typename Lavoro> Filo<Lavoro>::~Filo() {
    // The worker's signals die with its receivers; what is left is its thread.
    m_thread->quit();
    if (m_thread->wait(2000)) {
        delete m_thread;
        return;
    }
    // Still inside a step (an archive that does not answer): it ends by itself later.
    QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
}

template <typename Lavoro> void Filo<Lavoro>::avvia(std::function<void(Lavoro*)> passo) {
    Lavoro* l = m_lavoro;
    QMetaObject::invokeMethod(
        l, [l, passo = std::move(passo)] { passo(l); }, Qt::QueuedConnection);
}

template class Filo<LavoroArchivio>;
template class Filo<LavoroStampa>;

} // namespace qvr::totem
