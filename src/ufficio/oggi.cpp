#include "ufficio/oggi.h"

#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "registro/deposito.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>

namespace qvr::ufficio {

namespace {

std::array<qint32, 11> leggiContatori(const QString& archivio) {
    std::array<qint32, 11> p{};
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, nomi::FileTotem));
    c.impostaOrigine(nomi::TabNumerazione);
    c.aggiorna();
    for (int s = 1; s <= 11; ++s) {
        const QVariant v = c.campo(nomi::campoP(s));
        p[s - 1] = v.isNull() ? 0 : valori::comeLong(v, nomi::campoP(s));
    }
    c.chiudi();
    return p;
}

} // namespace

Giornata leggiGiornata(const QString& archivio) {
    Giornata g;
    const LettoreArchivio lettore(archivio);
    const Assegnazioni assegnazioni = lettore.leggiAssegnazioni(true);
    const RecordsDisplay display = lettore.leggiDisplay();
    const RecordsSingoli singoli = lettore.leggiSingoli();
    g.regole = biglietti::leggiRegole(archivio);
    g.totem = biglietti::totemAttivo(archivio);
    g.biglietti = leggiContatori(archivio);
    g.ultimoSingola = contatore::leggiLong(fileArchivio(archivio, nomi::FileContatore));
    for (int n = 1; n <= 10; ++n) {
        StatoPostazione& s = g.postazioni[n - 1];
        const AssegnazionePostazione& a = assegnazioni[n - 1];
        s.singola = a.singola;
        s.idUtente = a.idUtente;
        s.nominativo = a.nominativo;
        if (s.singola) {
            s.numero = singoli[n - 1].numero;
            s.stato = singoli[n - 1].stato;
            s.guasto = singoli[n - 1].guasto.testo;
        } else {
            s.numero = display[n - 1].numero;
            s.stato = display[n - 1].stato;
            s.guasto = display[n - 1].guasto.testo;
        }
        // The station's own sequence counts from its display record, as its console does.
        g.inAttesa[n - 1] =
            display[n - 1].guasto.numero
                ? 0
                : biglietti::personeInAttesa(g.biglietti[n - 1], display[n - 1].numero,
                                             g.regole.dopo99Standard);
    }
    g.inAttesa[10] =
        biglietti::personeInAttesa(g.biglietti[10], g.ultimoSingola, g.regole.dopo99Singola);
    return g;
}

QVector<Chiamata> chiamateTra(const Giornata& prima, const Giornata& dopo, const QDateTime& ora) {
    QVector<Chiamata> nuove;
    for (int n = 1; n <= 10; ++n) {
        const StatoPostazione& a = prima.postazioni[n - 1];
        const StatoPostazione& b = dopo.postazioni[n - 1];
        if (!b.guasto.isEmpty() || b.stato != nomi::StatoInCorso || b.numero == 0)
            continue;
        if (a.singola != b.singola || a.numero != b.numero || a.stato != b.stato)
            nuove.push_back({ora, n, b.numero});
    }
    return nuove;
}

QVector<Chiamata> chiamateDelRegistro(const QString& archivio, const QDate& giorno, int quante) {
    const std::unique_ptr<registro::Deposito> giornale = registro::deposito(archivio);
    if (!eServer(archivio) && !QFileInfo::exists(giornale->nome()))
        return {};
    try {
        giornale->apriLettura();
    } catch (const ErroreQvr& e) {
        // A server archive whose recorder never ran has no journal's schema.
        if (eServer(archivio) &&
            (e.numero() == Err::DatabaseNonTrovato || e.numero() == Err::TabellaNonTrovata))
            return {};
        throw;
    }
    // A local day lies within 14 hours of the same UTC day: a day more on each side.
    const qint64 da = QDateTime(giorno.addDays(-1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 a = QDateTime(giorno.addDays(2), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QVector<Chiamata> elenco;
    giornale->leggiLeggero(da, a, [&](const registro::Evento& e) {
        if (e.tipo == registro::Tipo::Chiamata && e.data() == giorno)
            elenco.push_back({e.ora(), e.postazione, e.numero});
    });
    giornale->chiudi();
    if (elenco.size() > quante)
        elenco.remove(0, elenco.size() - quante);
    std::reverse(elenco.begin(), elenco.end());
    return elenco;
}

QString testoStato(int stato) {
    switch (stato) {
    case nomi::StatoInCorso:
        return nomi::TestoInCorso;
    case nomi::StatoAttesa:
        return nomi::TestoAttesa;
    case nomi::StatoAssente:
        return nomi::TestoAssente;
    default:
        return QStringLiteral("Stato %1").arg(stato);
    }
}

Marche leggiMarche(const QString& archivio) {
    Marche m;
    const LettoreArchivio lettore(archivio);
    for (const QString& f : {nomi::FileQVR, nomi::FileQVRA, nomi::FileQVRB}) {
        const ImprontaFile i = lettore.impronta(f);
        m << i.contatore << i.inode << quint64(i.dimensione);
    }
    if (eServer(archivio)) {
        // The kiosk's counters are one small row: read as they are.
        for (const qint32 p : leggiContatori(archivio))
            m << quint64(quint32(p));
    } else {
        const ImprontaFile i =
            LettoreArchivio::improntaFile(fileArchivio(archivio, nomi::FileTotem));
        m << i.contatore << i.inode << quint64(i.dimensione);
        // The counter file is never opened for this: its time and size tell a rewrite.
        const QFileInfo contatore(fileArchivio(archivio, nomi::FileContatore));
        m << quint64(contatore.lastModified().toMSecsSinceEpoch()) << quint64(contatore.size());
    }
    return m;
}

// The polls, on the watch's thread.
class Osservatore::Sonda : public QObject {
public:
    Sonda(const QString& archivio, Osservatore* padrone)
        : m_archivio(archivio), m_padrone(padrone) {}
    // On the watch's thread: its server connections go with it.
    ~Sonda() override { server::chiudiConnessioni(); }

    void avvia() {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, [this] { sonda(); });
        sonda();
    }

    std::atomic<bool> daRileggere{true};

private:
    void sonda() {
        int prossima = Osservatore::IntervalloMs;
        try {
            const Marche m = leggiMarche(m_archivio);
            if (m != m_marche || daRileggere.exchange(false)) {
                const Giornata g = leggiGiornata(m_archivio);
                m_marche = m;
                QMetaObject::invokeMethod(m_padrone, [p = m_padrone, g] { emit p->letta(g); });
            }
        } catch (const ErroreQvr& e) {
            m_marche.clear();
            prossima = Osservatore::RiprovaMs;
            QMetaObject::invokeMethod(m_padrone, [p = m_padrone, n = e.numero(),
                                                  t = e.testoCompleto()] { emit p->errore(n, t); });
        }
        m_timer->start(prossima);
    }

    QString m_archivio;
    Osservatore* m_padrone;
    QTimer* m_timer = nullptr;
    Marche m_marche;
};

Osservatore::Osservatore(const QString& archivio, QObject* parent)
    : QObject(parent), m_archivio(archivio) {
    qRegisterMetaType<qvr::ufficio::Giornata>();
}

Osservatore::~Osservatore() {
    if (m_filo) {
        m_filo->quit();
        m_filo->wait();
    }
}

void Osservatore::avvia() {
    if (m_filo)
        return;
    m_filo = new QThread(this);
    m_sonda = new Sonda(m_archivio, this);
    m_sonda->moveToThread(m_filo);
    connect(m_filo, &QThread::finished, m_sonda, &QObject::deleteLater);
    m_filo->start();
    QMetaObject::invokeMethod(m_sonda, [s = m_sonda] { s->avvia(); });
}

void Osservatore::rileggi() {
    if (m_sonda)
        m_sonda->daRileggere = true;
}

} // namespace qvr::ufficio
