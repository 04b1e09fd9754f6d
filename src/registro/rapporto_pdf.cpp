#include "registro/rapporto_pdf.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace qvr::statistiche {

namespace {

constexpr int Dpi = 150;
// A4 at 150 dpi, less 15 mm margins each side.
constexpr int Larghezza = 1063;
constexpr int Altezza = 1577;

const QColor Blu(0x2b, 0x5c, 0x8a);
const QColor Arancio(0xd9, 0x7b, 0x29);
const QColor Grigio(0x88, 0x88, 0x88);

struct Barra {
    QString etichetta;
    double valore = 0;
    double secondo = 0; // a second, stacked part (recalls), drawn in the second colour
};

// A rounded top for the axis: 1, 2, 5 times a power of ten, at least the largest value.
double massimoAsse(double v) {
    if (v <= 0)
        return 1;
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= v)
            return m * p;
    return 10 * p;
}

class Pagine {
public:
    explicit Pagine(QPdfWriter& w) : m_w(w), m_p(&w) {}
    QPainter& p() { return m_p; }
    int& y() { return m_y; }
    // A new page when `altezza` no longer fits below y.
    void spazio(int altezza) {
        if (m_y + altezza > Altezza) {
            m_w.newPage();
            m_y = 0;
            ++m_pagina;
            pie();
        }
    }
    void pie() {
        QFont f = m_p.font();
        f.setPointSizeF(8);
        m_p.save();
        m_p.setFont(f);
        m_p.setPen(Grigio);
        m_p.drawText(QRect(0, Altezza + 10, Larghezza, 30), Qt::AlignRight,
                     QStringLiteral("Pagina %1").arg(m_pagina));
        m_p.restore();
    }

private:
    QPdfWriter& m_w;
    QPainter m_p;
    int m_y = 0;
    int m_pagina = 1;
};

void testo(Pagine& pg, const QString& t, double punti, bool grassetto, int sotto = 8,
           int conSeguito = 0) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(punti);
    f.setBold(grassetto);
    pg.p().setFont(f);
    pg.p().setPen(Qt::black);
    const QFontMetrics m(f, pg.p().device());
    const QRect r = m.boundingRect(QRect(0, 0, Larghezza, 10000), Qt::TextWordWrap, t);
    pg.spazio(r.height() + sotto + conSeguito);
    pg.p().drawText(QRect(0, pg.y(), Larghezza, r.height()), Qt::TextWordWrap, t);
    pg.y() += r.height() + sotto;
}

// A bar chart with its title, a labelled value axis and a label under each bar.
void grafico(Pagine& pg, const QString& titolo, const QString& unita, bool interi,
             const std::vector<Barra>& barre, const std::function<QString(double)>& valore,
             const QString& legenda1 = {}, const QString& legenda2 = {}) {
    const int h = 380;
    testo(pg, titolo, 12, true, 4, h);
    QPainter& p = pg.p();
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(7.5);
    p.setFont(f);
    const QRect area(90, pg.y() + 10, Larghezza - 100, h - 80);
    double massimo = 0;
    for (const Barra& b : barre)
        massimo = std::max(massimo, b.valore + b.secondo);
    // Counts never get an axis below 5 (no half tickets); the steps are round: a top of 2, 20
    // ... in 4 steps, of 1, 5, 10 ... in 5.
    const double top = interi ? std::max(5.0, massimoAsse(massimo)) : massimoAsse(massimo);
    const double mantissa = top / std::pow(10.0, std::floor(std::log10(top)));
    const int passi = std::lround(mantissa) == 2 ? 4 : 5;
    const double passoAsse = top / passi;
    const int decimali =
        interi ? 0 : std::clamp(int(-std::floor(std::log10(passoAsse) + 1e-9)), 0, 2);
    p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1));
    for (int i = 0; i <= passi; ++i) {
        const int y = area.bottom() - int(area.height() * i / double(passi));
        p.drawLine(area.left(), y, area.right(), y);
        p.setPen(Qt::black);
        p.drawText(QRect(0, y - 12, area.left() - 8, 24), Qt::AlignRight | Qt::AlignVCenter,
                   QLocale(QLocale::Italian).toString(passoAsse * i, 'f', decimali));
        p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1));
    }
    p.setPen(Qt::black);
    p.save();
    p.translate(14, area.center().y());
    p.rotate(-90);
    p.drawText(QRect(-area.height() / 2, -12, area.height(), 24), Qt::AlignCenter, unita);
    p.restore();
    p.drawLine(area.bottomLeft(), area.bottomRight());
    if (barre.empty()) {
        p.drawText(area, Qt::AlignCenter, QStringLiteral("Nessun dato"));
    } else {
        const double passo = double(area.width()) / double(barre.size());
        const int largh = std::max(2, int(passo * 0.7));
        for (size_t i = 0; i < barre.size(); ++i) {
            const Barra& b = barre[i];
            const int x = area.left() + int(passo * double(i) + (passo - largh) / 2);
            const int h1 = int(area.height() * b.valore / top);
            const int h2 = int(area.height() * b.secondo / top);
            p.fillRect(QRect(x, area.bottom() - h1, largh, h1), Blu);
            if (h2 > 0)
                p.fillRect(QRect(x, area.bottom() - h1 - h2, largh, h2), Arancio);
            p.drawText(QRect(x - 20, area.bottom() + 4, largh + 40, 24), Qt::AlignHCenter,
                       b.etichetta);
            if (b.valore + b.secondo > 0 && barre.size() <= 16)
                p.drawText(QRect(x - 30, area.bottom() - h1 - h2 - 24, largh + 60, 22),
                           Qt::AlignHCenter | Qt::AlignBottom, valore(b.valore + b.secondo));
        }
    }
    int x = area.left();
    const int yl = area.bottom() + 34;
    for (const auto& [colore, nome] : {std::pair{Blu, legenda1}, std::pair{Arancio, legenda2}}) {
        if (nome.isEmpty())
            continue;
        p.fillRect(QRect(x, yl + 4, 16, 16), colore);
        p.drawText(QRect(x + 22, yl, 400, 24), Qt::AlignLeft | Qt::AlignVCenter, nome);
        x += 30 + QFontMetrics(f, p.device()).horizontalAdvance(nome) + 30;
    }
    pg.y() += h;
}

// A table: a header row, then rows, in columns of the given widths (the first left-aligned).
void tabella(Pagine& pg, const QStringList& intestazione, const std::vector<QStringList>& righe,
             const std::vector<int>& larghezze) {
    QPainter& p = pg.p();
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(7.5);
    auto riga = [&](const QStringList& celle, bool testa) {
        // The header's words wrap onto a second line rather than being cut.
        const int alta = testa ? 46 : 26;
        pg.spazio(alta);
        f.setBold(testa);
        p.setFont(f);
        p.setPen(Qt::black);
        if (testa)
            p.fillRect(QRect(0, pg.y(), Larghezza, alta), QColor(0xe8, 0xee, 0xf4));
        int x = 0;
        for (int i = 0; i < celle.size() && i < int(larghezze.size()); ++i) {
            p.drawText(QRect(x + 4, pg.y(), larghezze[size_t(i)] - 8, alta),
                       (i == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter |
                           Qt::TextWordWrap,
                       celle[i]);
            x += larghezze[size_t(i)];
        }
        pg.y() += alta;
    };
    // A heading and the first rows stay on one page.
    pg.spazio(46 + 26 * int(std::min<size_t>(righe.size(), 3)));
    riga(intestazione, true);
    for (const QStringList& r : righe)
        riga(r, false);
    pg.y() += 14;
}

// The columns of a line of figures (a sequence, a station, a day, the whole period).
const std::vector<int> ColonneVoce{150, 100, 100, 100, 110, 120, 130, 120, 133};

// One line of figures; a station's line has no tickets of its own ("-").
QStringList rigaVoce(const QString& nome, const Voce& v, bool conBiglietti) {
    const bool aa = v.attesa.conteggio > 0;
    const bool ss = v.servizio.conteggio > 0;
    return QStringList{nome,
                       conBiglietti ? QString::number(v.biglietti) : QStringLiteral("-"),
                       QString::number(v.chiamate),
                       QString::number(v.richiami),
                       conBiglietti ? QString::number(v.maiChiamati) : QStringLiteral("-"),
                       durata(v.attesa.mediana, aa),
                       durata(v.attesa.percentile90, aa),
                       durata(v.attesa.massimo, aa),
                       durata(v.servizio.mediana, ss)};
}

// The title with the period, and the archive the figures come from.
void intestazione(Pagine& pg, const Risultato& r, const QString& archivio) {
    const QString periodo =
        r.dal == r.al ? QStringLiteral("del %1").arg(r.dal.toString(QStringLiteral("dd/MM/yyyy")))
                      : QStringLiteral("dal %1 al %2")
                            .arg(r.dal.toString(QStringLiteral("dd/MM/yyyy")),
                                 r.al.toString(QStringLiteral("dd/MM/yyyy")));
    testo(pg, QStringLiteral("Statistiche dell'ufficio ") + periodo, 18, true, 6);
    testo(pg,
          QStringLiteral("Archivio %1 — registro di qvr-server; prodotto il %2")
              .arg(archivio,
                   QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"))),
          9, false, 20);
}

// The whole period in one line, with what its times measure.
void riepilogo(Pagine& pg, const Voce& totale) {
    tabella(pg,
            {QStringLiteral("Riepilogo"), QStringLiteral("Biglietti"), QStringLiteral("Chiamate"),
             QStringLiteral("Richiami"), QStringLiteral("Mai chiamati"),
             QStringLiteral("Attesa mediana"), QStringLiteral("Attesa 90° perc."),
             QStringLiteral("Attesa massima"), QStringLiteral("Allo sportello")},
            {rigaVoce(QStringLiteral("Periodo"), totale, true)}, ColonneVoce);
    testo(pg,
          QStringLiteral("Attesa: dall'emissione del biglietto alla prima chiamata. Allo "
                         "sportello: dalla chiamata alla chiamata successiva o all'assenza "
                         "della stessa postazione (mediana). Tempi in minuti:secondi."),
          8, false, 16);
}

// The periods the journal does not cover, and what that means for the figures.
void periodiScoperti(Pagine& pg, const std::vector<Buco>& buchi) {
    testo(pg, QStringLiteral("Periodi non coperti dal registro"), 12, true, 4, 60);
    if (buchi.empty()) {
        testo(pg, QStringLiteral("Nessuno: il registro copre tutto il periodo."), 9, false);
        return;
    }
    for (const Buco& b : buchi)
        testo(pg,
              QStringLiteral("%1 – %2: %3")
                  .arg(b.inizio.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                       b.fine.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")), b.motivo),
              8.5, false, 4);
    testo(pg,
          QStringLiteral("In questi periodi i biglietti e le chiamate sono registrati "
                         "con l'ora in cui il registratore li ha visti dopo."),
          8, false);
}

// Tickets and mean wait per hour (from the first to the last hour with any), calls per station.
void grafici(Pagine& pg, const Risultato& r) {
    int primaOra = 24, ultimaOra = -1;
    for (int h = 0; h < 24; ++h)
        if (r.ore[h].biglietti || r.ore[h].chiamate) {
            primaOra = std::min(primaOra, h);
            ultimaOra = std::max(ultimaOra, h);
        }
    std::vector<Barra> bigliettiOra, attesaOra;
    for (int h = primaOra; h <= ultimaOra; ++h) {
        const QString e = QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0'));
        bigliettiOra.push_back({e, double(r.ore[h].biglietti), 0});
        attesaOra.push_back({e, r.ore[h].attesa.media / 60.0, 0});
    }
    const auto intero = [](double v) { return QString::number(std::lround(v)); };
    const auto decimale = [](double v) {
        return QLocale(QLocale::Italian).toString(v, 'f', v < 1 ? 2 : v < 10 ? 1 : 0);
    };
    grafico(pg, QStringLiteral("Biglietti emessi per ora del giorno"), QStringLiteral("biglietti"),
            true, bigliettiOra, intero);
    grafico(pg, QStringLiteral("Attesa media per ora di emissione del biglietto (minuti)"),
            QStringLiteral("minuti"), false, attesaOra, decimale);
    std::vector<Barra> postazioni;
    for (const auto& [n, v] : r.perPostazione)
        postazioni.push_back({QStringLiteral("Post. %1").arg(n), double(v.chiamate - v.richiami),
                              double(v.richiami)});
    grafico(pg, QStringLiteral("Chiamate per postazione"), QStringLiteral("chiamate"), true,
            postazioni, intero, QStringLiteral("chiamate nuove"), QStringLiteral("richiami"));
}

// The figures per kiosk sequence, per station, per hour and per day.
void dettagli(Pagine& pg, const Risultato& r) {
    const QStringList testaVoci{QString(),
                                QStringLiteral("Biglietti"),
                                QStringLiteral("Chiamate"),
                                QStringLiteral("Richiami"),
                                QStringLiteral("Mai chiamati"),
                                QStringLiteral("Att. mediana"),
                                QStringLiteral("Att. 90° perc."),
                                QStringLiteral("Att. massima"),
                                QStringLiteral("Allo sportello")};
    std::vector<QStringList> perSeq, perPost, perGiorno, perOra;
    for (const auto& [k, v] : r.perSequenza)
        perSeq.push_back(rigaVoce(nomeSequenza(k), v, true));
    for (const auto& [k, v] : r.perPostazione)
        perPost.push_back(rigaVoce(QStringLiteral("Postazione %1").arg(k), v, false));
    for (const Giorno& g : r.giorni)
        perGiorno.push_back(
            rigaVoce(QLocale(QLocale::Italian).toString(g.data, QStringLiteral("ddd dd/MM/yyyy")),
                     g.totale, true));
    for (int h = 0; h < 24; ++h) {
        const Ora& o = r.ore[h];
        if (!o.biglietti && !o.chiamate && !o.inAttesaMax)
            continue;
        const bool aa = o.attesa.conteggio > 0;
        perOra.push_back({QStringLiteral("%1:00-%2:00")
                              .arg(h, 2, 10, QLatin1Char('0'))
                              .arg(h + 1, 2, 10, QLatin1Char('0')),
                          QString::number(o.biglietti), QString::number(o.chiamate),
                          durata(o.attesa.media, aa), durata(o.attesa.massimo, aa),
                          QString::number(o.inAttesaMax)});
    }
    testo(pg, QStringLiteral("Per sequenza del totem"), 12, true, 4, 130);
    tabella(pg, testaVoci, perSeq, ColonneVoce);
    testo(pg, QStringLiteral("Per postazione"), 12, true, 4, 130);
    tabella(pg, testaVoci, perPost, ColonneVoce);
    testo(pg, QStringLiteral("Per ora del giorno"), 12, true, 4, 130);
    tabella(pg,
            {QStringLiteral("Ora"), QStringLiteral("Biglietti"), QStringLiteral("Chiamate"),
             QStringLiteral("Attesa media"), QStringLiteral("Attesa massima"),
             QStringLiteral("Persone in attesa (max)")},
            perOra, {150, 150, 150, 180, 180, 253});
    testo(pg, QStringLiteral("Per giorno"), 12, true, 4, 130);
    tabella(pg, testaVoci, perGiorno, ColonneVoce);
}

} // namespace

QByteArray pdf(const Risultato& r, const QString& archivio) {
    QByteArray dati;
    QBuffer buffer(&dati);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter w(&buffer);
        w.setPageSize(QPageSize(QPageSize::A4));
        w.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        w.setResolution(Dpi);
        w.setTitle(QStringLiteral("Statistiche dell'ufficio"));
        w.setCreator(QStringLiteral("qvr-archivio"));
        Pagine pg(w);
        pg.pie();
        intestazione(pg, r, archivio);
        riepilogo(pg, r.totale);
        periodiScoperti(pg, r.buchi);
        grafici(pg, r);
        dettagli(pg, r);
    }
    buffer.close();
    return dati;
}

} // namespace qvr::statistiche
