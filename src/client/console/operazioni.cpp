#include "console/operazioni.h"

#include "app/globali.h"
#include "archive/biglietti.h"
#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "console/display.h"

#include <cmath>
#include <limits>

namespace qvr::operazioni {

namespace {

constexpr qint32 MassimoLong = std::numeric_limits<qint32>::max();
constexpr qint32 MinimoLong = std::numeric_limits<qint32>::min();

// Runs a read or rewrite of Nr4All.txt; its failures become ErroreContatore.
template <typename F> auto sulContatore(F&& lavoro) {
    try {
        return lavoro();
    } catch (const ErroreContatore&) {
        throw;
    } catch (const ErroreQvr& e) {
        throw ErroreContatore(e);
    }
}

QString fileContatore() {
    return fileArchivio(PercorsoArchivi, nomi::FileContatore);
}

void apriNumerazioneTotem(Cursore& c, bool perModifica) {
    c.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileTotem));
    c.impostaOrigine(nomi::TabNumerazione);
    c.aggiorna(perModifica);
}

} // namespace

ErroreNumeroNonPubblicato::ErroreNumeroNonPubblicato(const ErroreQvr& origine, qint32 numero)
    : ErroreQvr(origine.numero(),
                QStringLiteral("Il numero %1 è stato estratto ma non compare sul display: "
                               "chiamarlo a voce.\n%2")
                    .arg(numero)
                    .arg(origine.dettaglio())),
      m_numero(numero) {}

qint32 valoreNumerico(const QString& testo) {
    int i = 0;
    const int n = static_cast<int>(testo.size());
    while (i < n && (testo[i] == QLatin1Char(' ') || testo[i] == QLatin1Char('\t')))
        ++i;
    bool negativo = false;
    if (i < n && (testo[i] == QLatin1Char('+') || testo[i] == QLatin1Char('-'))) {
        negativo = testo[i] == QLatin1Char('-');
        ++i;
    }
    // Whole part: past 11 significant digits the value is beyond 32 bits anyway.
    double valore = 0;
    for (; i < n && testo[i].isDigit() && testo[i].unicode() < 128; ++i)
        if (valore < 1e11)
            valore = valore * 10 + (testo[i].unicode() - '0');
    if (i < n && testo[i] == QLatin1Char('.')) {
        double peso = 0.1;
        for (++i; i < n && testo[i].isDigit() && testo[i].unicode() < 128; ++i) {
            valore += peso * (testo[i].unicode() - '0');
            peso /= 10;
        }
    }
    if (negativo)
        valore = -valore;
    const double arrotondato = std::nearbyint(valore); // halves to the even neighbour
    if (arrotondato >= static_cast<double>(MassimoLong))
        return MassimoLong;
    if (arrotondato <= static_cast<double>(MinimoLong))
        return MinimoLong;
    return static_cast<qint32>(arrotondato);
}

qint32 numeroSuccessivo(qint32 corrente, bool dopo99) {
    if (dopo99 && corrente == 99)
        return 1;
    if (corrente == MassimoLong)
        throw ErroreQvr(Err::Overflow, QStringLiteral("%1 + 1").arg(corrente));
    return corrente + 1;
}

qint32 numeroPrecedente(qint32 corrente, bool dopo99) {
    if (dopo99 && corrente == 1)
        return 99;
    if (corrente == MinimoLong)
        return MinimoLong; // nothing below: the caller refuses it like any number under 1
    return corrente - 1;
}

QString LeggiCodaSingola() {
    Cursore c;
    apriNumerazioneTotem(c, false);
    const QString testo = c.campoTesto(nomi::CampoP11Q);
    c.chiudi();
    return testo;
}

namespace {

std::optional<qint32> chiamaSingola(bool dopo99Singola, bool conCoda) {
    // The counter must be there to be drawn from (a missing file or folder is the console's own
    // message, which it survives); then the record: whatever keeps it from being written (a missing
    // database, table, row or field, a database held past the busy timeout) fails here, before any
    // number is drawn.
    sulContatore([] { return contatore::leggiLong(fileContatore()); });
    Cursore c;
    c.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVRA));
    c.impostaOrigine(nomi::tabNumerazioneSingle(NumeroPostazione));
    c.aggiorna(true);
    c.modifica();
    for (const QString& campo : {nomi::CampoNUMERO, nomi::CampoStato})
        if (!c.haCampo(campo))
            throw ErroreQvr(Err::CampoNonTrovato, nomi::tabNumerazioneSingle(NumeroPostazione) +
                                                      QStringLiteral(": ") + campo);

    qint32 letto = 0;
    // The kiosk's gate, under the counter's lock: its failure is the archive's, not the
    // counter's, and is thrown once the lock is given back.
    std::optional<ErroreQvr> guastoTotem;
    const auto qualcunoInCoda = [&](qint32 ultimo) {
        if (!conCoda)
            return true;
        try {
            Cursore t;
            apriNumerazioneTotem(t, false);
            const qint32 biglietto = t.campoLong(nomi::CampoP11);
            t.chiudi();
            return biglietti::personeInAttesa(biglietto, ultimo, dopo99Singola) > 0;
        } catch (const ErroreQvr& e) {
            guastoTotem = e;
            return false;
        }
    };
    const std::optional<qint32> estratto = sulContatore([&] {
        return contatore::prelevaSe(fileContatore(), dopo99Singola, qualcunoInCoda, &letto);
    });
    if (guastoTotem)
        throw *guastoTotem;
    if (!estratto)
        return std::nullopt; // nobody waiting: the record's transaction is rolled back
    const qint32 numero = *estratto;
    NumeroCorrente = letto;
    NumeroChiamato = numero;

    try {
        c.assegna(nomi::CampoNUMERO, numero);
        c.assegna(nomi::CampoStato, static_cast<qint16>(nomi::StatoInCorso));
        c.salva();
    } catch (const ErroreQvr& e) {
        throw ErroreNumeroNonPubblicato(e, numero);
    }
    c.chiudi();
    return numero;
}

} // namespace

qint32 ChiamaSingola(bool dopo99Singola) {
    return *chiamaSingola(dopo99Singola, false);
}

std::optional<qint32> ChiamaSingolaConCoda(bool dopo99Singola) {
    return chiamaSingola(dopo99Singola, true);
}

qint32 AggiornaCodaSingola(bool dopo99) {
    const qint32 ultimo = sulContatore([] { return contatore::leggiLong(fileContatore()); });
    Cursore c;
    apriNumerazioneTotem(c, true);
    const qint32 coda = biglietti::personeInAttesa(c.campoLong(nomi::CampoP11), ultimo, dopo99);
    c.modifica();
    c.assegna(nomi::CampoP11Q, static_cast<double>(coda));
    c.salva();
    c.chiudi();
    return coda;
}

qint32 AggiornaCodaStandard(const QString& captionNumero, bool dopo99) {
    Cursore c;
    apriNumerazioneTotem(c, false);
    qint32 biglietto = 0;
    if (NumeroPostazione >= 1 && NumeroPostazione <= nomi::NumeroPostazioni)
        biglietto = c.campoLong(nomi::campoP(NumeroPostazione));
    c.chiudi();
    return biglietti::personeInAttesa(biglietto, valoreNumerico(captionNumero), dopo99);
}

EsitoPressione ChiamaProssimo(bool dopo99Standard, bool codaVuota) {
    EsitoPressione esito;
    esito.numeroLetto =
        SeguiEAggiornaDisplay([&](const QString& letto) -> std::optional<ScritturaDisplay> {
            NumeroCorrente = valoreNumerico(letto);
            if (codaVuota)
                return std::nullopt;
            const qint32 prossimo = numeroSuccessivo(NumeroCorrente, dopo99Standard);
            if (dopo99Standard && NumeroCorrente == 99)
                NumeroCorrente = 0;
            NumeroChiamato = prossimo;
            return ScritturaDisplay{QVariant(prossimo), static_cast<qint16>(nomi::StatoInCorso),
                                    QStringLiteral("F")};
        });
    esito.chiamato = !codaVuota;
    return esito;
}

QString SegnalaAttesa() {
    return SeguiEAggiornaDisplay([](const QString& letto) -> std::optional<ScritturaDisplay> {
        NumeroCorrente = valoreNumerico(letto);
        return ScritturaDisplay{QVariant(NumeroCorrente), static_cast<qint16>(nomi::StatoAttesa),
                                QStringLiteral("F")};
    });
}

} // namespace qvr::operazioni
