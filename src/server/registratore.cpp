#include "server/registratore.h"

#include "archive/errori.h"
#include "registro/letture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <limits>
#include <unistd.h>

namespace qvr::server {

namespace {

qint64 orologioMs() {
    static QElapsedTimer t = [] {
        QElapsedTimer x;
        x.start();
        return x;
    }();
    return t.elapsed();
}

QString nomeMacchina() {
    char nome[256] = {};
    if (::gethostname(nome, sizeof nome - 1) != 0)
        return QStringLiteral("?");
    return QString::fromLocal8Bit(nome);
}

std::function<void(int, const QString&)>& ascoltatore() {
    static std::function<void(int, const QString&)> f;
    return f;
}

} // namespace

void ascoltaLog(std::function<void(int, const QString&)> ascolto) {
    ascoltatore() = std::move(ascolto);
}

void scriviLog(int livello, const QString& testo) {
    if (ascoltatore())
        ascoltatore()(livello, testo);
    // Under systemd (JOURNAL_STREAM set) the "<N>" prefix gives the journal the line's level;
    // on a terminal a word does.
    static const bool giornale = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    QByteArray riga;
    if (giornale)
        riga = "<" + QByteArray::number(livello) + ">";
    else
        riga = livello <= 3 ? "ERRORE: " : livello == 4 ? "AVVISO: " : "INFO: ";
    riga += testo.toUtf8();
    riga += '\n';
    std::fwrite(riga.constData(), 1, size_t(riga.size()), stderr);
    std::fflush(stderr);
}

Registratore::Registratore(const QString& archivio, QObject* parent,
                           std::unique_ptr<registro::Deposito> deposito)
    : QObject(parent), m_cartella(archivio),
      m_identita(nomeMacchina() + QLatin1Char(':') +
                 QString::number(QCoreApplication::applicationPid())),
      m_lettore(archivio),
      m_registro(deposito ? std::move(deposito) : registro::deposito(archivio)),
      m_blocco(registro::blocco(archivio)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Registratore::controlla);
    connect(&m_timerBlocco, &QTimer::timeout, this, &Registratore::provaBlocco);
}

Registratore::~Registratore() = default;

bool Registratore::prendiBlocco() {
    switch (m_blocco->prendi()) {
    case registro::Blocco::Esito::Preso:
        m_haBlocco = true;
        m_erroreBlocco.reset();
        return true;
    case registro::Blocco::Esito::Errore: {
        const ErroreQvr e = m_blocco->errore();
        if (m_erroreBlocco != e.numero())
            scriviLog(4, QStringLiteral("Blocco del registro non riuscito: %1; nuovo tentativo "
                                        "ogni %2 s")
                             .arg(e.testoCompleto())
                             .arg(RiprovaMs / 1000));
        m_erroreBlocco = e.numero();
        m_haBlocco = false;
        return false;
    }
    case registro::Blocco::Esito::Occupato:
        break;
    }
    m_haBlocco = true; // the lock's own resource is there: retry at the short interval
    m_erroreBlocco.reset();
    m_atteso = true;
    if (!m_avvisatoBlocco) {
        scriviLog(6, QStringLiteral("Un altro registratore è attivo su questo archivio: attendo "
                                    "che termini per subentrare."));
        m_avvisatoBlocco = true;
    }
    return false;
}

void Registratore::avvia() {
    scriviLog(6, QStringLiteral("Registratore %1 sull'archivio %2").arg(m_identita, m_cartella));
    provaBlocco();
}

void Registratore::provaBlocco() {
    if (m_attivo)
        return;
    if (!prendiBlocco()) {
        const int intervallo = m_haBlocco ? RiprovaBloccoMs : RiprovaMs;
        if (!m_timerBlocco.isActive() || m_timerBlocco.interval() != intervallo)
            m_timerBlocco.start(intervallo);
        return;
    }
    m_timerBlocco.stop();
    inizia();
}

void Registratore::inizia() {
    m_attivo = true;
    std::vector<registro::Evento> primi;
    const QDateTime ora = adesso();
    // The journal as the previous recorder left it: its last state continues here.
    std::optional<registro::Evento> precedente;
    try {
        m_registro->apriScrittura();
        precedente = m_registro->ultimo();
        // Taking the lock again after losing it, with nobody having written meanwhile: what
        // this recorder saw and holds goes on. Otherwise the journal's state continues here (the
        // other recorder saw the same changes: what was held is dropped, never written twice).
        const bool continua =
            m_giaAvviato && (!precedente || precedente->registratore == m_identita);
        if (!continua) {
            const QString stato = m_registro->stato();
            if (!stato.isEmpty() && !m_osservatore.ripristina(stato))
                scriviLog(4, QStringLiteral("Stato salvato nel registro illeggibile: si riparte "
                                            "dai record come sono ora."));
            m_statoScritto = stato;
            m_inAttesa.clear();
            m_persi = 0;
        }
    } catch (const registro::ErroreRegistro& e) {
        if (e.danneggiato()) {
            try {
                const QString copia = m_registro->accantona(ora);
                scriviLog(3, QStringLiteral("Registro danneggiato (%1): conservato come %2, se ne "
                                            "inizia uno nuovo.")
                                 .arg(e.testoCompleto(), copia));
                registro::Evento d = registro::evento(registro::Tipo::Danneggiato, ora);
                d.dettaglio = copia;
                primi.push_back(d);
            } catch (const ErroreQvr& r) {
                scriviLog(3, QStringLiteral("Registro danneggiato (%1), e non si può spostare: %2")
                                 .arg(e.testoCompleto(), r.testoCompleto()));
            }
        } else {
            scriviLog(4, QStringLiteral("Registro non apribile: %1; gli eventi restano in memoria "
                                        "e si riprova ogni %2 s.")
                             .arg(e.testoCompleto())
                             .arg(RiprovaMs / 1000));
        }
        m_registro->chiudi();
    }
    if (m_atteso || (precedente && precedente->tipo != registro::Tipo::Arresto &&
                     precedente->registratore != m_identita)) {
        registro::Evento p = registro::evento(registro::Tipo::Passaggio, ora);
        const QString prima = precedente ? precedente->registratore : QString();
        p.dettaglio = prima.isEmpty() ? QStringLiteral("subentra a un altro registratore")
                                      : QStringLiteral("subentra a %1").arg(prima);
        if (prima == m_identita)
            p.dettaglio = QStringLiteral("riprende dopo aver perso il blocco del registro");
        else if (precedente && precedente->tipo != registro::Tipo::Arresto)
            p.dettaglio += QStringLiteral(" (terminato senza registrare l'arresto)");
        primi.push_back(p);
        scriviLog(6, QStringLiteral("Registrazione presa in carico: %1").arg(p.dettaglio));
    }
    registro::Evento a = registro::evento(registro::Tipo::Avvio, ora);
    a.dettaglio = QStringLiteral("qvr-server %1").arg(QCoreApplication::applicationVersion());
    primi.push_back(a);
    // The start lands together with the first read of the archive, so that anything seen after
    // the start is recorded from it.
    m_primi = std::move(primi);
    scriviLog(6, QStringLiteral("Registrazione avviata in %1").arg(m_registro->nome()));
    m_giaAvviato = true;
    m_prossimaVerifica = orologioMs() + RiprovaBloccoMs;
    controlla();
    m_timer.start(m_buco ? RiprovaMs : IntervalloMs);
}

void Registratore::verificaBlocco() {
    if (orologioMs() < m_prossimaVerifica)
        return;
    m_prossimaVerifica = orologioMs() + RiprovaBloccoMs;
    if (!m_blocco->tenuto())
        perdiBlocco();
}

void Registratore::perdiBlocco() {
    // The session that held it is gone: another recorder may be recording by now. What is held
    // in memory stays, and is written on taking the lock again only if nobody wrote meanwhile.
    scriviLog(4, QStringLiteral("Blocco del registro perso (connessione al server interrotta): "
                                "la registrazione si ferma finché non lo si riprende."));
    m_timer.stop();
    m_registro->chiudi();
    m_attivo = false;
    m_atteso = true;
    m_avvisatoBlocco = false;
    m_qvr.reset();
    m_qvra.reset();
    m_qvrb.reset();
    m_totem.reset();
    m_buco.reset();
    m_haBlocco = false;
    m_timerBlocco.start(RiprovaBloccoMs);
}

void Registratore::controlla() {
    if (!m_attivo)
        return;
    verificaBlocco();
    if (!m_attivo)
        return;
    std::vector<registro::Evento> eventi = std::move(m_primi);
    m_primi.clear();
    const QDateTime ora = adesso();
    try {
        // Marks first, all four, so that a failure anywhere reads nothing half.
        const auto [qvr, qvra, qvrb, totem] = registro::leggiImpronte(m_cartella);
        bool cambiato = false;
        if (!m_qvr || *m_qvr != qvr) {
            m_osservatore.aggiornaRegole(registro::leggiRegole(m_cartella));
            m_osservatore.aggiornaAssegnazioni(m_lettore.leggiAssegnazioni(false));
            m_qvr = qvr;
            cambiato = true;
        }
        // Tickets before calls: a ticket and its call seen in one read keep their order.
        if (!m_totem || *m_totem != totem) {
            const registro::Contatori c = registro::leggiContatori(m_cartella);
            auto v = m_osservatore.aggiornaContatori(c, ora);
            eventi.insert(eventi.end(), v.begin(), v.end());
            m_totem = totem;
            cambiato = true;
        }
        if (!m_qvrb || *m_qvrb != qvrb) {
            auto v = m_osservatore.aggiornaDisplay(m_lettore.leggiDisplay(), ora);
            eventi.insert(eventi.end(), v.begin(), v.end());
            m_qvrb = qvrb;
            cambiato = true;
        }
        if (!m_qvra || *m_qvra != qvra) {
            auto v = m_osservatore.aggiornaSingoli(m_lettore.leggiSingoli(), ora);
            eventi.insert(eventi.end(), v.begin(), v.end());
            m_qvra = qvra;
            cambiato = true;
        }
        if (m_buco) {
            registro::Evento f = registro::evento(registro::Tipo::FineBuco, ora);
            eventi.insert(eventi.begin(), f);
            scriviLog(6, QStringLiteral("Archivio di nuovo leggibile."));
            m_buco.reset();
            m_timer.setInterval(IntervalloMs);
        }
        if (cambiato || !eventi.empty())
            registra(std::move(eventi), true);
        else
            scrivi();
    } catch (const ErroreQvr& e) {
        // Everything is read again once the files are back; what the observer saw last stays,
        // so what changed meanwhile is recorded then.
        m_qvr.reset();
        m_qvra.reset();
        m_qvrb.reset();
        m_totem.reset();
        if (!eventi.empty())
            registra(std::move(eventi), true);
        if (!m_buco) {
            m_buco = e.numero();
            registro::Evento b = registro::evento(registro::Tipo::InizioBuco, ora);
            b.numero = e.numero();
            b.dettaglio = e.testoCompleto();
            scriviLog(4, QStringLiteral("Archivio non leggibile: %1; nuovo tentativo ogni %2 s.")
                             .arg(e.testoCompleto())
                             .arg(RiprovaMs / 1000));
            registra({b}, false);
            m_timer.setInterval(RiprovaMs);
        } else {
            scrivi();
        }
    }
}

void Registratore::registra(std::vector<registro::Evento> eventi, bool ancheStato) {
    for (registro::Evento& e : eventi) {
        e.registratore = m_identita;
        m_inAttesa.push_back(std::move(e));
    }
    if (m_inAttesa.size() > MassimoInAttesa) {
        const size_t troppi = m_inAttesa.size() - MassimoInAttesa;
        m_inAttesa.erase(m_inAttesa.begin(), m_inAttesa.begin() + qsizetype(troppi));
        if (m_persi == 0)
            scriviLog(3, QStringLiteral("Troppi eventi in attesa di scrittura: i più vecchi vanno "
                                        "persi."));
        m_persi += qint64(troppi);
    }
    if (ancheStato) {
        const QString s = m_osservatore.salva();
        if (s != m_statoScritto)
            m_statoDaScrivere = s;
    }
    if (m_erroreScrittura) {
        // After a failure, one attempt every 2 s; the events wait meanwhile.
        if (orologioMs() < m_prossimoTentativo)
            return;
    }
    scrivi();
}

void Registratore::scrivi() {
    if (m_inAttesa.empty() && !m_statoDaScrivere)
        return;
    if (m_erroreScrittura && orologioMs() < m_prossimoTentativo)
        return;
    // Nothing is written without the lock: checked right before each write (on a server a lost
    // session may have let another recorder take over).
    if (!m_blocco->tenuto()) {
        perdiBlocco();
        return;
    }
    std::vector<registro::Evento> lotto;
    if (m_persi > 0) {
        registro::Evento p = registro::evento(registro::Tipo::Perdita, adesso());
        p.numero =
            static_cast<qint32>(std::min<qint64>(m_persi, std::numeric_limits<qint32>::max()));
        p.dettaglio = QStringLiteral("eventi persi mentre il registro non era scrivibile");
        p.registratore = m_identita;
        lotto.push_back(p);
    }
    lotto.insert(lotto.end(), m_inAttesa.begin(), m_inAttesa.end());
    for (int tentativo = 0; tentativo < 2; ++tentativo) {
        try {
            if (!m_registro->aperto())
                m_registro->apriScrittura();
            m_registro->aggiungi(lotto, m_statoDaScrivere);
            if (m_statoDaScrivere)
                m_statoScritto = *m_statoDaScrivere;
            m_statoDaScrivere.reset();
            m_inAttesa.clear();
            m_persi = 0;
            if (m_erroreScrittura) {
                scriviLog(6, QStringLiteral("Registro di nuovo scrivibile: %1 eventi scritti.")
                                 .arg(lotto.size()));
                m_erroreScrittura.reset();
            }
            emit eventiScritti(lotto);
            return;
        } catch (const registro::ErroreRegistro& e) {
            m_registro->chiudi();
            if (e.danneggiato() && tentativo == 0) {
                try {
                    const QString copia = m_registro->accantona(adesso());
                    scriviLog(3, QStringLiteral("Registro danneggiato (%1): conservato come %2, "
                                                "se ne inizia uno nuovo.")
                                     .arg(e.testoCompleto(), copia));
                    registro::Evento d = registro::evento(registro::Tipo::Danneggiato, adesso());
                    d.dettaglio = copia;
                    d.registratore = m_identita;
                    lotto.insert(lotto.begin(), d);
                    // The new journal gets the whole state again.
                    m_statoDaScrivere = m_osservatore.salva();
                    continue;
                } catch (const ErroreQvr& r) {
                    scriviLog(3, QStringLiteral("Il registro danneggiato non si può spostare: %1")
                                     .arg(r.testoCompleto()));
                }
            }
            if (m_erroreScrittura != e.numero())
                scriviLog(4, QStringLiteral("Registro non scrivibile: %1; %2 eventi in memoria, "
                                            "nuovo tentativo ogni %3 s.")
                                 .arg(e.testoCompleto())
                                 .arg(m_inAttesa.size())
                                 .arg(RiprovaMs / 1000));
            m_erroreScrittura = e.numero();
            m_prossimoTentativo = orologioMs() + RiprovaMs;
            // The events of a journal kept aside are in `lotto`: keep them all.
            if (!lotto.empty() && lotto.front().tipo == registro::Tipo::Danneggiato) {
                m_inAttesa.assign(lotto.begin(), lotto.end());
                m_persi = 0;
            }
            return;
        }
    }
}

void Registratore::ferma() {
    m_timer.stop();
    m_timerBlocco.stop();
    if (!m_attivo) {
        m_blocco->rilascia();
        return;
    }
    registro::Evento a = registro::evento(registro::Tipo::Arresto, adesso());
    m_erroreScrittura.reset(); // one last attempt now, whatever the wait
    registra({a}, false);
    m_timerBlocco.stop(); // a lock found lost right now is not waited for
    if (!m_inAttesa.empty())
        scriviLog(3, QStringLiteral("Arresto con %1 eventi non scritti nel registro.")
                         .arg(m_inAttesa.size()));
    else
        scriviLog(6, QStringLiteral("Registrazione fermata."));
    m_registro->chiudi();
    m_attivo = false;
    m_blocco->rilascia();
}

} // namespace qvr::server
