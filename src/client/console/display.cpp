#include "console/display.h"

#include "app/globali.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"

#include <cmath>
#include <limits>

namespace qvr {

namespace {

// The cursor on the station's display record, not yet refreshed.
void preparaCursore(Cursore& c) {
    c.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVRB));
    c.impostaOrigine(nomi::querySelezionaTutto(TabellaDisplayCorrente()));
}

// NumeroA1 of the current row as text, when it is a number the console can hold: a stored number
// must be a whole number within 32 bits (25.0 written by the set-number dialog is 25), and a
// text read by the caption rules (sign, digits, decimals, the rest ignored) must stay within 32
// bits too. Anything else is error 6, before anything is published: "1e+300" would otherwise
// be read as 1 and the next press would publish 2.
QString numeroLetto(const Cursore& c) {
    const QVariant v = c.campo(nomi::CampoNumeroA1);
    const QString testo = valori::comeTesto(v, nomi::CampoNumeroA1);
    const auto oltre = [&] {
        return ErroreQvr(Err::Overflow, TabellaDisplayCorrente() + QStringLiteral(", ") +
                                            nomi::CampoNumeroA1 + QStringLiteral(" = ") + testo);
    };
    constexpr double minimo = std::numeric_limits<qint32>::min();
    constexpr double massimo = std::numeric_limits<qint32>::max();
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double x = v.toDouble();
        if (!std::isfinite(x) || x != std::trunc(x) || x < minimo || x > massimo)
            throw oltre();
    } else if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray) {
        // The whole part as the caption rules read it.
        qsizetype i = 0;
        while (i < testo.size() && (testo[i] == QLatin1Char(' ') || testo[i] == QLatin1Char('\t')))
            ++i;
        bool negativo = false;
        if (i < testo.size() && (testo[i] == QLatin1Char('+') || testo[i] == QLatin1Char('-')))
            negativo = testo[i++] == QLatin1Char('-');
        double intero = 0;
        for (; i < testo.size() && testo[i] >= QLatin1Char('0') && testo[i] <= QLatin1Char('9');
             ++i)
            if (intero < 1e11)
                intero = intero * 10 + (testo[i].unicode() - '0');
        if ((negativo ? -intero : intero) < minimo || (negativo ? -intero : intero) > massimo)
            throw oltre();
    } else {
        (void)valori::comeLong(v, nomi::CampoNumeroA1); // integers beyond 32 bits: 6
    }
    return testo;
}

void scriviRiga(Cursore& c, const QVariant& numero, qint16 stato, const QString& flag) {
    c.modifica();
    c.assegna(nomi::CampoNumeroA1, numero);
    c.assegna(nomi::CampoStatoN1, QVariant::fromValue<qint16>(stato));
    c.assegna(nomi::CampoF1, flag);
    c.salva();
}

void aggiornaDisplay(const QVariant& numero, qint16 stato, const QString& flag) {
    Cursore c;
    preparaCursore(c);
    c.aggiorna(true);
    scriviRiga(c, numero, stato, flag);
    c.chiudi();
}

} // namespace

QString TabellaDisplayCorrente() {
    return nomi::tabNumeriCode(NumeroPostazione);
}

void AggiornaDisplay(qint32 numero, qint16 stato, const QString& flag) {
    aggiornaDisplay(QVariant::fromValue<qint32>(numero), stato, flag);
}

void AggiornaDisplay(double numero, qint16 stato, const QString& flag) {
    aggiornaDisplay(QVariant::fromValue<double>(numero), stato, flag);
}

QString LeggiNumeroDisplay() {
    Cursore c;
    preparaCursore(c);
    c.aggiorna();
    const QString numero = numeroLetto(c);
    c.chiudi();
    return numero;
}

QString SeguiEAggiornaDisplay(
    const std::function<std::optional<ScritturaDisplay>(const QString& numeroLetto)>& decidi) {
    Cursore c;
    preparaCursore(c);
    c.aggiorna(true);
    const QString letto = numeroLetto(c);
    if (const auto scrittura = decidi(letto))
        scriviRiga(c, scrittura->numero, scrittura->stato, scrittura->flag);
    c.chiudi(); // without a write, rolls the read's transaction back
    return letto;
}

} // namespace qvr
