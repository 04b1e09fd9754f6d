#include "registro/statistiche.h"

#include "archive/biglietti.h"
#include "archive/nomi.h"

#include <QLocale>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace qvr::statistiche {

using registro::Evento;
using registro::Tipo;

Tempi Tempi::da(std::vector<double> v) {
    Tempi t;
    t.conteggio = int(v.size());
    if (v.empty())
        return t;
    // Selection rather than a full sort: a year's waits are half a million values.
    const size_t n = v.size();
    auto k = [&](size_t i) {
        std::nth_element(v.begin(), v.begin() + qsizetype(i), v.end());
        return v[i];
    };
    const size_t rango = std::max<size_t>(size_t(std::ceil(0.9 * double(n))), 1) - 1;
    t.percentile90 = k(rango);
    const double alta = k(n / 2);
    // After the selection of n/2 the lower half lies before it: its largest is the other middle.
    t.mediana =
        n % 2 ? alta : (*std::max_element(v.begin(), v.begin() + qsizetype(n / 2)) + alta) / 2;
    t.massimo = *std::max_element(v.begin(), v.end());
    t.media = std::accumulate(v.begin(), v.end(), 0.0) / double(n);
    return t;
}

namespace {

// A figure being gathered: its counts and the times behind its statistics.
struct Raccolta {
    Voce v;
    std::vector<double> attese, servizi;
    Voce chiudi() {
        Voce r = v;
        r.attesa = Tempi::da(std::move(attese));
        r.servizio = Tempi::da(std::move(servizi));
        return r;
    }
};

struct RaccoltaOra {
    Ora o;
    std::vector<double> attese;
};

struct Insieme {
    Raccolta totale;
    std::map<int, Raccolta> sequenze, postazioni;
    std::array<RaccoltaOra, 24> ore{};
};

struct Biglietto {
    qint64 oraMs = 0;
    int sequenza = 0;
    int ora = 0;
    int stato = 0; // 0 waiting, 1 called, 2 closed without a call
};

int oraLocale(const Evento& e) {
    const qint64 locale = e.oraUtcMs + qint64(e.scostamento) * 1000;
    const qint64 giorno = 86400000;
    return int((((locale % giorno) + giorno) % giorno) / 3600000);
}

QDate dataLocale(const Evento& e) {
    const qint64 locale = e.oraUtcMs + qint64(e.scostamento) * 1000;
    const qint64 giorni = locale >= 0 ? locale / 86400000 : (locale - 86399999) / 86400000;
    return QDate(1970, 1, 1).addDays(giorni);
}

} // namespace

struct Calcolatore::Stato {
    QDate dal, al;
    std::map<QDate, Insieme> giorni;
    Insieme periodo;

    // The day being matched.
    std::optional<QDate> corrente;
    Insieme* oggi = nullptr;
    std::vector<Biglietto> biglietti;
    // Indexed by sequence (1..NumeroSequenze) and by station (1..NumeroPostazioni).
    std::array<std::unordered_map<qint32, std::vector<size_t>>, nomi::NumeroSequenze + 1> liberi;
    std::array<std::unordered_set<qint32>, nomi::NumeroSequenze + 1> chiamati;
    std::array<std::optional<qint64>, nomi::NumeroPostazioni + 1>
        servizioDa; // the open call's time
    std::array<int, nomi::NumeroPostazioni + 1> servizioSequenza{};
    int inAttesa = 0;
    int ultimaOra = -1;

    // The spans not covered.
    std::optional<Evento> ultimo;
    std::optional<Evento> arresto;
    std::optional<Evento> bucoDa;
    std::vector<Buco> buchi;
    int persi = 0;

    void perOgni(int sequenza, int postazione, const std::function<void(Raccolta&)>& f) {
        for (Insieme* i : {oggi, &periodo}) {
            f(i->totale);
            if (sequenza > 0)
                f(i->sequenze[sequenza]);
            if (postazione > 0)
                f(i->postazioni[postazione]);
        }
    }
    void perOra(int ora, const std::function<void(RaccoltaOra&)>& f) {
        f(oggi->ore[ora]);
        f(periodo.ore[ora]);
    }

    // People waiting: before an event, the hours since the last one carry the count, and so
    // does the event's own hour up to it; after the event, its hour takes the new count.
    void portaAttesa(int ora) {
        if (ultimaOra >= 0)
            for (int h = ultimaOra + 1; h <= ora; ++h)
                segnaAttesa(h);
    }
    void segnaAttesa(int ora) {
        perOra(ora, [&](RaccoltaOra& o) { o.o.inAttesaMax = std::max(o.o.inAttesaMax, inAttesa); });
        ultimaOra = std::max(ultimaOra, ora);
    }

    void chiudiBiglietti(int sequenza) {
        for (auto& [numero, indici] : liberi[sequenza])
            for (size_t i : indici)
                if (biglietti[i].stato == 0) {
                    biglietti[i].stato = 2;
                    --inAttesa;
                    perOgni(sequenza, 0, [](Raccolta& r) { ++r.v.maiChiamati; });
                }
        liberi[sequenza].clear();
        chiamati[sequenza].clear();
    }

    void chiudiServizi() {
        for (auto& s : servizioDa)
            s.reset();
    }

    void chiudiGiorno() {
        if (!corrente)
            return;
        for (int s = 1; s <= nomi::NumeroSequenze; ++s)
            chiudiBiglietti(s);
        chiudiServizi();
        biglietti.clear();
        inAttesa = 0;
        ultimaOra = -1;
        corrente.reset();
        oggi = nullptr;
    }

    void fineServizio(int postazione, qint64 oraMs) {
        auto& da = servizioDa[postazione];
        if (!da)
            return;
        const double s = double(oraMs - *da) / 1000.0;
        const int sequenza = servizioSequenza[postazione];
        da.reset();
        if (s < 0)
            return;
        for (Insieme* i : {oggi, &periodo}) {
            i->totale.servizi.push_back(s);
            i->postazioni[postazione].servizi.push_back(s);
            if (sequenza > 0)
                i->sequenze[sequenza].servizi.push_back(s);
        }
    }

    void biglietto(const Evento& e) {
        if (e.sequenza < 1 || e.sequenza > nomi::NumeroSequenze)
            return;
        const int ora = oraLocale(e);
        portaAttesa(ora);
        biglietti.push_back({e.oraUtcMs, e.sequenza, ora, 0});
        liberi[e.sequenza][e.numero].push_back(biglietti.size() - 1);
        ++inAttesa;
        perOgni(e.sequenza, 0, [](Raccolta& r) { ++r.v.biglietti; });
        perOra(ora, [](RaccoltaOra& o) { ++o.o.biglietti; });
        segnaAttesa(ora);
    }

    void chiamata(const Evento& e) {
        if (e.postazione < 1 || e.postazione > nomi::NumeroPostazioni)
            return;
        const int sequenza =
            e.singola ? biglietti::SequenzaSingola : (e.sequenza >= 1 ? e.sequenza : e.postazione);
        const int ora = oraLocale(e);
        portaAttesa(ora);
        fineServizio(e.postazione, e.oraUtcMs);
        servizioDa[e.postazione] = e.oraUtcMs;
        servizioSequenza[e.postazione] = sequenza;
        perOgni(0, e.postazione, [](Raccolta& r) { ++r.v.chiamate; });
        perOgni(sequenza, 0, [](Raccolta& r) { ++r.v.chiamate; });
        // the total was counted twice above
        for (Insieme* i : {oggi, &periodo})
            --i->totale.v.chiamate;
        perOra(ora, [](RaccoltaOra& o) { ++o.o.chiamate; });
        auto richiamo = [&] {
            perOgni(0, e.postazione, [](Raccolta& r) { ++r.v.richiami; });
            perOgni(sequenza, 0, [](Raccolta& r) { ++r.v.richiami; });
            for (Insieme* i : {oggi, &periodo})
                --i->totale.v.richiami;
        };
        if (e.richiamo) {
            richiamo();
            segnaAttesa(ora);
            return;
        }
        auto& candidati = liberi[sequenza][e.numero];
        while (!candidati.empty() && biglietti[candidati.back()].stato != 0)
            candidati.pop_back();
        if (candidati.empty()) {
            if (chiamati[sequenza].count(e.numero))
                richiamo();
            else
                chiamati[sequenza].insert(e.numero);
            segnaAttesa(ora);
            return;
        }
        Biglietto& b = biglietti[candidati.back()];
        candidati.pop_back();
        b.stato = 1;
        --inAttesa;
        chiamati[sequenza].insert(e.numero);
        const double attesa = std::max(0.0, double(e.oraUtcMs - b.oraMs) / 1000.0);
        for (Insieme* i : {oggi, &periodo}) {
            i->totale.attese.push_back(attesa);
            i->sequenze[sequenza].attese.push_back(attesa);
            i->postazioni[e.postazione].attese.push_back(attesa);
        }
        perOra(b.ora, [&](RaccoltaOra& o) { o.attese.push_back(attesa); });
        segnaAttesa(ora);
    }

    void buco(const Evento& da, const Evento& a, const QString& motivo) {
        buchi.push_back({da.ora(), a.ora(), motivo});
    }

    void registratore(const Evento& e) {
        switch (e.tipo) {
        case Tipo::InizioBuco:
            if (!bucoDa)
                bucoDa = e;
            chiudiServizi();
            break;
        case Tipo::FineBuco:
            if (bucoDa)
                buco(*bucoDa, e,
                     QStringLiteral("archivio non leggibile (%1)").arg(bucoDa->dettaglio));
            bucoDa.reset();
            break;
        case Tipo::Arresto:
            arresto = e;
            chiudiServizi();
            break;
        case Tipo::Avvio:
            if (bucoDa) {
                buco(*bucoDa, e,
                     QStringLiteral("archivio non leggibile (%1)").arg(bucoDa->dettaglio));
                bucoDa.reset();
            } else if (arresto) {
                buco(*arresto, e, QStringLiteral("registratore fermo"));
            } else if (ultimo) {
                buco(*ultimo, e,
                     QStringLiteral("registratore terminato senza registrare l'arresto"));
            }
            arresto.reset();
            chiudiServizi();
            break;
        case Tipo::Danneggiato:
            buco(e, e, QStringLiteral("registro danneggiato, conservato come %1").arg(e.dettaglio));
            break;
        case Tipo::Perdita:
            persi += e.numero;
            buco(e, e, QStringLiteral("%1 eventi persi dal registratore").arg(e.numero));
            break;
        default:
            break;
        }
    }

    void aggiungi(const Evento& e) {
        switch (e.tipo) {
        case Tipo::Biglietto:
        case Tipo::Chiamata:
        case Tipo::Attesa:
        case Tipo::Assente:
        case Tipo::Azzeramento:
            break;
        case Tipo::Passaggio:
            return;
        default:
            registratore(e);
            if (e.tipo != Tipo::Avvio)
                ultimo = e;
            else
                ultimo.reset();
            return;
        }
        ultimo = e;
        const QDate data = dataLocale(e);
        if (!corrente || *corrente != data) {
            chiudiGiorno();
            if (data < dal || data > al)
                return;
            corrente = data;
            oggi = &giorni[data];
        }
        switch (e.tipo) {
        case Tipo::Biglietto:
            biglietto(e);
            break;
        case Tipo::Chiamata:
            chiamata(e);
            break;
        case Tipo::Assente:
            if (e.postazione >= 1 && e.postazione <= nomi::NumeroPostazioni)
                fineServizio(e.postazione, e.oraUtcMs);
            break;
        case Tipo::Azzeramento:
            if (e.sequenza >= 1 && e.sequenza <= nomi::NumeroSequenze)
                chiudiBiglietti(e.sequenza);
            break;
        default:
            break;
        }
    }
};

Calcolatore::Calcolatore(QDate dal, QDate al) : d(new Stato) {
    d->dal = dal;
    d->al = al;
}

Calcolatore::~Calcolatore() {
    delete d;
}

void Calcolatore::aggiungi(const Evento& e) {
    d->aggiungi(e);
}

namespace {

Giorno chiudiInsieme(Insieme& i) {
    Giorno g;
    g.totale = i.totale.chiudi();
    for (auto& [k, r] : i.sequenze)
        g.perSequenza[k] = r.chiudi();
    for (auto& [k, r] : i.postazioni)
        g.perPostazione[k] = r.chiudi();
    for (int h = 0; h < 24; ++h) {
        g.ore[h] = i.ore[h].o;
        g.ore[h].attesa = Tempi::da(std::move(i.ore[h].attese));
    }
    return g;
}

bool dentro(const QDateTime& t, QDate dal, QDate al) {
    const QDate x = t.date();
    return x >= dal && x <= al;
}

} // namespace

Risultato Calcolatore::risultato() {
    d->chiudiGiorno();
    Risultato r;
    r.dal = d->dal;
    r.al = d->al;
    for (auto& [data, i] : d->giorni) {
        Giorno g = chiudiInsieme(i);
        g.data = data;
        r.giorni.push_back(std::move(g));
    }
    Giorno p = chiudiInsieme(d->periodo);
    r.totale = p.totale;
    r.perSequenza = p.perSequenza;
    r.perPostazione = p.perPostazione;
    r.ore = p.ore;
    if (d->bucoDa && d->ultimo)
        d->buco(*d->bucoDa, *d->ultimo,
                QStringLiteral("archivio non leggibile (%1), ancora alla fine del registro")
                    .arg(d->bucoDa->dettaglio));
    for (const Buco& b : d->buchi)
        if (dentro(b.inizio, r.dal, r.al) || dentro(b.fine, r.dal, r.al) ||
            (b.inizio.date() < r.dal && b.fine.date() > r.al))
            r.buchi.push_back(b);
    r.eventiPersi = d->persi;
    return r;
}

Risultato calcola(const std::vector<Evento>& eventi, QDate dal, QDate al) {
    Calcolatore c(dal, al);
    for (const Evento& e : eventi)
        c.aggiungi(e);
    return c.risultato();
}

Risultato calcola(const QString& fileRegistro, QDate dal, QDate al) {
    registro::Registro r(fileRegistro);
    return calcola(r, dal, al);
}

Risultato calcola(registro::Deposito& r, QDate dal, QDate al) {
    r.apriLettura();
    Calcolatore c(dal, al);
    // A local date lies within 14 hours of the same UTC date: a day more on each side.
    const qint64 da = QDateTime(dal.addDays(-1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 a = QDateTime(al.addDays(2), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    // The recorder's own events before the range tell whether it begins in a gap: read them all
    // (they are few), the office's events only in the range.
    r.leggiLeggero(std::numeric_limits<qint64>::min(), da, [&](const Evento& e) {
        if (e.tipo != Tipo::Biglietto && e.tipo != Tipo::Chiamata && e.tipo != Tipo::Attesa &&
            e.tipo != Tipo::Assente && e.tipo != Tipo::Azzeramento)
            c.aggiungi(e);
    });
    r.leggiLeggero(da, a, [&](const Evento& e) { c.aggiungi(e); });
    return c.risultato();
}

QString nomeSequenza(int s) {
    if (s == biglietti::SequenzaSingola)
        return QStringLiteral("P11 (singola)");
    return QStringLiteral("P%1").arg(s);
}

QString durata(double secondi, bool presente) {
    if (!presente)
        return QStringLiteral("-");
    const qint64 s = qint64(std::llround(secondi));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

namespace {

QString data(QDate d) {
    return d.toString(QStringLiteral("dd/MM/yyyy"));
}

QString colonna(const QString& t, int larghezza, bool destra = true) {
    return destra ? t.rightJustified(larghezza) : t.leftJustified(larghezza);
}

QString rigaVoce(const QString& nome, const Voce& v, bool conBiglietti) {
    const bool a = v.attesa.conteggio > 0;
    const bool s = v.servizio.conteggio > 0;
    return colonna(nome, 16, false) +
           colonna(conBiglietti ? QString::number(v.biglietti) : QStringLiteral("-"), 10) +
           colonna(QString::number(v.chiamate), 9) + colonna(QString::number(v.richiami), 9) +
           colonna(conBiglietti ? QString::number(v.maiChiamati) : QStringLiteral("-"), 8) +
           colonna(durata(v.attesa.mediana, a), 9) + colonna(durata(v.attesa.percentile90, a), 9) +
           colonna(durata(v.attesa.massimo, a), 9) + colonna(durata(v.servizio.mediana, s), 11) +
           QLatin1Char('\n');
}

const QString Intestazione = QStringLiteral(
    "                 Biglietti Chiamate Richiami    Mai   Attesa   Attesa   Attesa   Sportello\n"
    "                                            chiamati  mediana  90° pc.  massima    mediano\n");

} // namespace

QString tabella(const Risultato& r) {
    QString t;
    QTextStream o(&t);
    o << "Statistiche dal " << data(r.dal) << " al " << data(r.al) << "\n\n";
    o << "Per giorno\n" << Intestazione;
    for (const Giorno& g : r.giorni)
        o << rigaVoce(data(g.data), g.totale, true);
    o << rigaVoce(QStringLiteral("Totale"), r.totale, true) << '\n';
    o << "Per sequenza del totem\n" << Intestazione;
    for (const auto& [s, v] : r.perSequenza)
        o << rigaVoce(nomeSequenza(s), v, true);
    o << '\n' << "Per postazione\n" << Intestazione;
    for (const auto& [p, v] : r.perPostazione)
        o << rigaVoce(QStringLiteral("Postazione %1").arg(p), v, false);
    o << '\n'
      << "Per ora del giorno (attesa per ora di emissione del biglietto)\n"
      << "Ora            Biglietti Chiamate  Attesa media  Attesa massima  Persone in attesa "
         "(max)\n";
    for (int h = 0; h < 24; ++h) {
        const Ora& x = r.ore[h];
        if (x.biglietti == 0 && x.chiamate == 0 && x.inAttesaMax == 0)
            continue;
        const bool a = x.attesa.conteggio > 0;
        o << colonna(QStringLiteral("%1:00-%2:00")
                         .arg(h, 2, 10, QLatin1Char('0'))
                         .arg(h + 1, 2, 10, QLatin1Char('0')),
                     15, false)
          << colonna(QString::number(x.biglietti), 9) << colonna(QString::number(x.chiamate), 9)
          << colonna(durata(x.attesa.media, a), 14) << colonna(durata(x.attesa.massimo, a), 16)
          << colonna(QString::number(x.inAttesaMax), 25) << '\n';
    }
    o << '\n';
    if (r.buchi.empty()) {
        o << "Il registro copre tutto il periodo.\n";
    } else {
        o << "Periodi non coperti dal registro:\n";
        for (const Buco& b : r.buchi)
            o << "  " << b.inizio.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) << " - "
              << b.fine.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) << "  " << b.motivo << '\n';
    }
    o.flush();
    return t;
}

QByteArray csv(const Risultato& r) {
    const QLocale it(QLocale::Italian, QLocale::Italy);
    auto minuti = [&](double secondi, bool presente) {
        return presente ? it.toString(secondi / 60.0, 'f', 2) : QString();
    };
    QStringList righe;
    righe << QStringLiteral("Giorno;Gruppo;Voce;Biglietti;Chiamate;Richiami;Mai chiamati;"
                            "Attesa mediana (min);Attesa 90° percentile (min);Attesa massima "
                            "(min);Tempo allo sportello mediano (min);Persone in attesa (max)");
    auto voce = [&](const QString& giorno, const QString& gruppo, const QString& nome,
                    const Voce& v, bool conBiglietti) {
        const bool a = v.attesa.conteggio > 0;
        const bool s = v.servizio.conteggio > 0;
        righe << QStringList{giorno,
                             gruppo,
                             nome,
                             conBiglietti ? QString::number(v.biglietti) : QString(),
                             QString::number(v.chiamate),
                             QString::number(v.richiami),
                             conBiglietti ? QString::number(v.maiChiamati) : QString(),
                             minuti(v.attesa.mediana, a),
                             minuti(v.attesa.percentile90, a),
                             minuti(v.attesa.massimo, a),
                             minuti(v.servizio.mediana, s),
                             QString()}
                     .join(u';');
    };
    auto gruppo = [&](const QString& giorno, const Voce& totale, const std::map<int, Voce>& seq,
                      const std::map<int, Voce>& post, const std::array<Ora, 24>& ore) {
        voce(giorno, QStringLiteral("Totale"), QStringLiteral("Totale"), totale, true);
        for (const auto& [s, v] : seq)
            voce(giorno, QStringLiteral("Sequenza"), nomeSequenza(s), v, true);
        for (const auto& [p, v] : post)
            voce(giorno, QStringLiteral("Postazione"), QStringLiteral("Postazione %1").arg(p), v,
                 false);
        for (int h = 0; h < 24; ++h) {
            const Ora& x = ore[h];
            if (x.biglietti == 0 && x.chiamate == 0 && x.inAttesaMax == 0)
                continue;
            const bool a = x.attesa.conteggio > 0;
            righe << QStringList{giorno,
                                 QStringLiteral("Ora"),
                                 QStringLiteral("%1:00-%2:00")
                                     .arg(h, 2, 10, QLatin1Char('0'))
                                     .arg(h + 1, 2, 10, QLatin1Char('0')),
                                 QString::number(x.biglietti),
                                 QString::number(x.chiamate),
                                 QString(),
                                 QString(),
                                 minuti(x.attesa.mediana, a),
                                 minuti(x.attesa.percentile90, a),
                                 minuti(x.attesa.massimo, a),
                                 QString(),
                                 QString::number(x.inAttesaMax)}
                         .join(u';');
        }
    };
    for (const Giorno& g : r.giorni)
        gruppo(g.data.toString(Qt::ISODate), g.totale, g.perSequenza, g.perPostazione, g.ore);
    gruppo(QStringLiteral("Periodo"), r.totale, r.perSequenza, r.perPostazione, r.ore);
    for (const Buco& b : r.buchi)
        righe << QStringLiteral("%1;Non coperto;%2 - %3: %4;;;;;;;;;")
                     .arg(b.inizio.date().toString(Qt::ISODate),
                          b.inizio.toString(QStringLiteral("HH:mm:ss")),
                          b.fine.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                          QString(b.motivo).replace(u';', u','));
    return QByteArray("\xEF\xBB\xBF") + righe.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

} // namespace qvr::statistiche
