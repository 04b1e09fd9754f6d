#include "tabellone/sorvegliante.h"

#include "archive/nomi.h"

namespace qvr::tabellone {

Sorvegliante::Sorvegliante(const QString& cartella, ModelloTabellone* modello, QObject* parent)
    : QObject(parent), m_lettore(cartella), m_modello(modello) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Sorvegliante::controlla);
}

void Sorvegliante::avvia() {
    controlla();
    if (!m_timer.isActive())
        m_timer.start(m_inErrore ? RiprovaMs : IntervalloMs);
}

void Sorvegliante::controlla() {
    QVector<Chiamata> nuove;
    bool cambiato = false;
    try {
        // Marks first, all three, so that a failure anywhere reads nothing half.
        const ImprontaFile qvr = m_lettore.impronta(nomi::FileQVR);
        const ImprontaFile qvra = m_lettore.impronta(nomi::FileQVRA);
        const ImprontaFile qvrb = m_lettore.impronta(nomi::FileQVRB);
        if (!m_qvr || *m_qvr != qvr) {
            m_modello->aggiornaAssegnazioni(m_lettore.leggiAssegnazioni(m_modello->nominativi()));
            m_qvr = qvr;
            cambiato = true;
        }
        if (!m_qvrb || *m_qvrb != qvrb) {
            nuove += m_modello->aggiornaDisplay(m_lettore.leggiDisplay());
            m_qvrb = qvrb;
            cambiato = true;
        }
        if (!m_qvra || *m_qvra != qvra) {
            nuove += m_modello->aggiornaSingoli(m_lettore.leggiSingoli());
            m_qvra = qvra;
            cambiato = true;
        }
    } catch (const ErroreQvr& e) {
        // Everything is read again once the files are back: the marks may have moved meanwhile.
        m_qvr.reset();
        m_qvra.reset();
        m_qvrb.reset();
        if (!nuove.isEmpty())
            emit chiamate(nuove);
        if (!m_inErrore || m_timer.interval() != RiprovaMs) {
            m_inErrore = true;
            if (m_timer.isActive())
                m_timer.setInterval(RiprovaMs);
        }
        emit errore(e.numero(), e.testoCompleto());
        return;
    }
    if (m_inErrore) {
        m_inErrore = false;
        if (m_timer.isActive())
            m_timer.setInterval(IntervalloMs);
        emit ripristinato();
    }
    if (!nuove.isEmpty())
        emit chiamate(nuove);
    if (cambiato)
        emit aggiornato();
}

} // namespace qvr::tabellone
