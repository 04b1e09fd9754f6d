#include "tabellone/sorvegliante.h"

#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QThread>

namespace qvr::tabellone {

namespace {
// How long the end of the board waits for a poll still running before it lets the reading
// thread finish by itself.
constexpr unsigned long AttesaFineMs = 300;
} // namespace

Sonda::Sonda(std::unique_ptr<LettoreArchivio> lettore, bool nominativi)
    : m_lettore(std::move(lettore)), m_nominativi(nominativi) {}

Lettura Sonda::leggi() {
    Lettura l;
    try {
        // Marks first, all three, so that a failure anywhere reads nothing half.
        const ImprontaFile qvr = m_lettore->impronta(nomi::FileQVR);
        const ImprontaFile qvra = m_lettore->impronta(nomi::FileQVRA);
        const ImprontaFile qvrb = m_lettore->impronta(nomi::FileQVRB);
        if (!m_qvr || *m_qvr != qvr) {
            l.assegnazioni = m_lettore->leggiAssegnazioni(m_nominativi);
            m_qvr = qvr;
        }
        if (!m_qvrb || *m_qvrb != qvrb) {
            l.display = m_lettore->leggiDisplay();
            m_qvrb = qvrb;
        }
        if (!m_qvra || *m_qvra != qvra) {
            l.singoli = m_lettore->leggiSingoli();
            m_qvra = qvra;
        }
    } catch (const ErroreQvr& e) {
        // Everything is read again once the files are back: the marks may have moved meanwhile.
        m_qvr.reset();
        m_qvra.reset();
        m_qvrb.reset();
        l.errore = e.numero();
        l.testoErrore = e.testoCompleto();
    }
    return l;
}

void Sonda::richiesta() {
    emit letta(leggi());
}

Sorvegliante::Sorvegliante(const QString& cartella, ModelloTabellone* modello, QObject* parent)
    : Sorvegliante(std::make_unique<LettoreArchivio>(cartella), modello, parent) {}

Sorvegliante::Sorvegliante(std::unique_ptr<LettoreArchivio> lettore, ModelloTabellone* modello,
                           QObject* parent)
    : QObject(parent), m_modello(modello), m_cartella(lettore->cartella()),
      m_sonda(new Sonda(std::move(lettore), modello->nominativi())) {
    qRegisterMetaType<qvr::tabellone::Lettura>();
    m_prossima.setSingleShot(true);
    m_prossima.setTimerType(Qt::PreciseTimer);
    connect(&m_prossima, &QTimer::timeout, this, &Sorvegliante::chiedi);
    m_guardia.setSingleShot(true);
    connect(&m_guardia, &QTimer::timeout, this, &Sorvegliante::nonRisponde);
}

Sorvegliante::~Sorvegliante() {
    if (!m_filo) {
        delete m_sonda;
        return;
    }
    // The thread's end deletes the probe (connected in avvia()). A poll stalled on the share
    // keeps the thread until the read returns: then the thread deletes itself as well.
    m_filo->quit();
    if (m_filo->wait(AttesaFineMs)) {
        delete m_filo;
    } else {
        connect(m_filo, &QThread::finished, m_filo, &QObject::deleteLater);
    }
}

void Sorvegliante::avvia() {
    if (m_filo)
        return;
    m_filo = new QThread; // no parent: it may outlive the watch while a read is stalled
    m_filo->setObjectName(QStringLiteral("qvr-tabellone-lettura"));
    m_sonda->moveToThread(m_filo);
    connect(m_filo, &QThread::finished, m_sonda, &QObject::deleteLater);
    connect(m_sonda, &Sonda::letta, this, &Sorvegliante::letta, Qt::QueuedConnection);
    m_filo->start();
    chiedi();
}

void Sorvegliante::chiedi() {
    m_guardia.start(AttesaMassimaMs);
    QMetaObject::invokeMethod(m_sonda, &Sonda::richiesta, Qt::QueuedConnection);
}

void Sorvegliante::letta(const Lettura& l) {
    m_guardia.stop();
    applica(l);
    m_prossima.start(m_inErrore ? RiprovaMs : IntervalloMs);
}

void Sorvegliante::nonRisponde() {
    m_inErrore = true;
    const QString cartella = eServer(m_cartella) ? server::uriPerMessaggi(m_cartella) : m_cartella;
    const ErroreQvr e(
        Err::ErroreDiscoRete,
        cartella +
            QStringLiteral(": l'archivio non risponde da più di %1 s").arg(AttesaMassimaMs / 1000));
    emit errore(e.numero(), e.testoCompleto());
}

void Sorvegliante::controlla() {
    applica(m_sonda->leggi());
}

void Sorvegliante::applica(const Lettura& l) {
    const QVector<Chiamata> nuove = m_modello->aggiorna(l.assegnazioni, l.display, l.singoli);
    const bool cambiato = l.assegnazioni || l.display || l.singoli;
    if (l.errore != 0) {
        m_inErrore = true;
        if (!nuove.isEmpty())
            emit chiamate(nuove);
        if (cambiato)
            emit aggiornato();
        emit errore(l.errore, l.testoErrore);
        return;
    }
    if (m_inErrore) {
        m_inErrore = false;
        emit ripristinato();
    }
    if (!nuove.isEmpty())
        emit chiamate(nuove);
    if (cambiato)
        emit aggiornato();
}

} // namespace qvr::tabellone
