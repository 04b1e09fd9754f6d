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
#include <mutex>

namespace qvr::ufficio {

namespace {

std::array<qint32, nomi::NumeroSequenze> leggiContatori(const QString& archivio) {
    std::array<qint32, nomi::NumeroSequenze> p{};
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, nomi::FileTotem));
    c.impostaOrigine(nomi::TabNumerazione);
    c.aggiorna();
    for (int s = 1; s <= nomi::NumeroSequenze; ++s) {
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
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
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
    constexpr int condivisa = nomi::NumeroSequenze - 1; // the shared sequence
    g.inAttesa[condivisa] =
        biglietti::personeInAttesa(g.biglietti[condivisa], g.ultimoSingola, g.regole.dopo99Singola);
    return g;
}

QVector<Chiamata> chiamateTra(const Giornata& prima, const Giornata& dopo, const QDateTime& ora) {
    QVector<Chiamata> nuove;
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
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
    for (const QString& f : {nomi::FileQVR, nomi::FileQVRA, nomi::FileQVRB, nomi::FileTotem}) {
        const ImprontaFile i = lettore.impronta(f);
        m << i.contatore << i.inode << quint64(i.dimensione);
    }
    if (!eServer(archivio)) {
        // The counter file is never opened for this: its time and size tell a rewrite. On a
        // server a draw of the shared sequence shows in QVRA.mdb, where the station writes it.
        const QFileInfo contatore(fileArchivio(archivio, nomi::FileContatore));
        m << quint64(contatore.lastModified().toMSecsSinceEpoch()) << quint64(contatore.size());
    }
    return m;
}

// What the watch's thread shares with its owner, which may go while a poll still hangs on a
// server that does not answer: the poll then ends on its own, and tells no one.
struct Osservatore::Legame {
    std::mutex mutex;
    Osservatore* padrone;
    std::atomic<bool> daRileggere{true};
    explicit Legame(Osservatore* p) : padrone(p) {}
};

// The polls, on the watch's thread.
class Osservatore::Sonda : public QObject {
public:
    Sonda(const QString& archivio, std::shared_ptr<Legame> legame)
        : m_archivio(archivio), m_legame(std::move(legame)) {}
    // On the watch's thread: its server connections go with it.
    ~Sonda() override { server::chiudiConnessioni(); }

    void avvia() {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, [this] { sonda(); });
        sonda();
    }

private:
    // Emits `segnale` on the owner's thread, while there is an owner.
    template <typename F> bool avvisa(F segnale) {
        const std::lock_guard<std::mutex> blocco(m_legame->mutex);
        if (Osservatore* p = m_legame->padrone) {
            QMetaObject::invokeMethod(p, [p, segnale] { segnale(p); });
            return true;
        }
        return false;
    }

    void sonda() {
        int prossima = Osservatore::IntervalloMs;
        bool seguito = true;
        try {
            const Marche m = leggiMarche(m_archivio);
            if (m != m_marche || m_legame->daRileggere.exchange(false)) {
                const Giornata g = leggiGiornata(m_archivio);
                m_marche = m;
                seguito = avvisa([g](Osservatore* p) { emit p->letta(g); });
            }
        } catch (const ErroreQvr& e) {
            m_marche.clear();
            prossima = Osservatore::RiprovaMs;
            seguito = avvisa(
                [n = e.numero(), t = e.testoCompleto()](Osservatore* p) { emit p->errore(n, t); });
        }
        if (seguito)
            m_timer->start(prossima);
    }

    QString m_archivio;
    std::shared_ptr<Legame> m_legame;
    QTimer* m_timer = nullptr;
    Marche m_marche;
};

Osservatore::Osservatore(const QString& archivio, QObject* parent)
    : QObject(parent), m_archivio(archivio), m_legame(std::make_shared<Legame>(this)) {
    qRegisterMetaType<qvr::ufficio::Giornata>();
}

Osservatore::~Osservatore() {
    {
        const std::lock_guard<std::mutex> blocco(m_legame->mutex);
        m_legame->padrone = nullptr;
    }
    if (!m_filo)
        return;
    m_filo->quit();
    if (m_filo->wait(AttesaFineMs))
        return;
    // A poll hangs on the archive: the thread ends when it returns (within the bounds of a
    // server connection), and goes then; the window does not wait for it.
    m_filo->setParent(nullptr);
    connect(m_filo, &QThread::finished, m_filo, &QObject::deleteLater);
    if (m_filo->isFinished())
        m_filo->deleteLater(); // ended meanwhile: a second deleteLater() is harmless
}

void Osservatore::avvia() {
    if (m_filo)
        return;
    m_filo = new QThread(this);
    auto* sonda = new Sonda(m_archivio, m_legame);
    sonda->moveToThread(m_filo);
    connect(m_filo, &QThread::finished, sonda, &QObject::deleteLater);
    m_filo->start();
    QMetaObject::invokeMethod(sonda, [sonda] { sonda->avvia(); });
}

void Osservatore::rileggi() {
    m_legame->daRileggere = true;
}

} // namespace qvr::ufficio
