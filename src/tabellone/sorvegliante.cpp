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

void Sonda::avvia(int intervalloMs, int riprovaMs) {
    m_intervallo = intervalloMs;
    m_riprova = riprovaMs;
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Sonda::sonda);
    sonda();
}

void Sonda::sonda() {
    const Lettura l = leggi();
    m_timer->start(l.errore != 0 ? m_riprova : m_intervallo);
    emit letta(l);
}

Sorvegliante::Sorvegliante(const QString& cartella, ModelloTabellone* modello, QObject* parent)
    : Sorvegliante(std::make_unique<LettoreArchivio>(cartella), modello, parent) {}

Sorvegliante::Sorvegliante(std::unique_ptr<LettoreArchivio> lettore, ModelloTabellone* modello,
                           QObject* parent)
    : QObject(parent), m_modello(modello), m_cartella(lettore->cartella()),
      m_sonda(new Sonda(std::move(lettore), modello->nominativi())) {
    qRegisterMetaType<qvr::tabellone::Lettura>();
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
    m_guardia.start(AttesaMassimaMs);
    QMetaObject::invokeMethod(m_sonda, "avvia", Qt::QueuedConnection, Q_ARG(int, IntervalloMs),
                              Q_ARG(int, RiprovaMs));
}

void Sorvegliante::letta(const Lettura& l) {
    applica(l);
    m_guardia.start((l.errore != 0 ? RiprovaMs : IntervalloMs) + AttesaMassimaMs);
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
    m_letto = true;
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
