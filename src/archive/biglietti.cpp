#include "archive/biglietti.h"

#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace qvr::biglietti {

qint32 personeInAttesa(qint32 ultimoBiglietto, qint32 ultimoChiamato, bool dopo99) {
    qint64 q = static_cast<qint64>(ultimoBiglietto) - ultimoChiamato;
    if (dopo99 && q < 0)
        q += 99;
    if (q < 0)
        return 0;
    return q > std::numeric_limits<qint32>::max() ? std::numeric_limits<qint32>::max()
                                                  : static_cast<qint32>(q);
}

qint32 numeroDopo(qint32 ultimo, bool dopo99) {
    if (dopo99 && ultimo == 99)
        return 1;
    if (ultimo == std::numeric_limits<qint32>::max())
        throw ErroreQvr(Err::Overflow, QString::number(ultimo));
    return ultimo + 1;
}

Regole leggiRegole(const QString& cartella) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(cartella, nomi::FileQVR));
    c.impostaOrigine(nomi::TabConfigurazione);
    c.aggiorna();
    Regole r;
    r.dopo99Singola = c.campoSiNo(nomi::CampoNovantanoveSingle);
    r.dopo99Standard = c.campoSiNo(nomi::CampoNovantanoveStandard);
    return r;
}

bool totemAttivo(const QString& cartella) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(cartella, nomi::FileTotem));
    c.impostaOrigine(nomi::querySelezionaTutto(nomi::TabConfigurazione));
    c.aggiorna();
    const QVariant v = c.campo(nomi::CampoRHDSN);
    return !v.isNull() && v.toString() == QStringLiteral("SI");
}

namespace {

// A counter as the kiosk reads it: Null is 0 (a counter never written).
qint32 contatoreLetto(const Cursore& c, const QString& campo) {
    const QVariant v = c.campo(campo);
    return v.isNull() ? 0 : valori::comeLong(v, campo);
}

// The last number called in a station's own sequence, or nothing when it cannot be read.
std::optional<qint32> ultimoChiamatoStazione(const QString& cartella, int postazione) {
    try {
        Cursore c;
        c.impostaDatabase(unisciPercorso(cartella, nomi::FileQVRB));
        c.impostaOrigine(nomi::querySelezionaTutto(nomi::tabNumeriCode(postazione)));
        c.aggiorna();
        return c.campoLong(nomi::CampoNumeroA1);
    } catch (const ErroreQvr&) {
        return std::nullopt;
    }
}

} // namespace

Biglietto emetti(const QString& cartella, int sequenza, const Opzioni& opzioni) {
    if (sequenza < 1 || sequenza > SequenzaSingola)
        throw ErroreQvr(Err::CampoNonTrovato,
                        nomi::campoP(sequenza) + QStringLiteral(" in Numerazione"));
    if (opzioni.soloSeAttivo && !totemAttivo(cartella))
        throw ErroreQvr(ErroreTotemNonAttivo,
                        QStringLiteral("RHDSN non è \"SI\": totem non attivo"));
    const bool dopo99 = leggiRegole(cartella).perSequenza(sequenza);
    const bool singola = sequenza == SequenzaSingola;
    // The last number called in the sequence, when it can be known.
    bool noto = false;
    qint32 chiamato = 0;
    if (!singola) {
        const std::optional<qint32> letto = ultimoChiamatoStazione(cartella, sequenza);
        noto = letto.has_value();
        chiamato = letto.value_or(0);
    }

    const QString campo = nomi::campoP(sequenza);
    Cursore c;
    c.impostaDatabase(unisciPercorso(cartella, nomi::FileTotem));
    c.impostaOrigine(nomi::TabNumerazione);
    c.aggiorna(true); // the write transaction: nobody issues between the read and the write
    Biglietto b;
    b.sequenza = sequenza;
    b.numero = numeroDopo(contatoreLetto(c, campo), dopo99);
    if (singola) {
        // Under the counter file's own lock, as the consoles read it; the kiosk never waits
        // long for it while holding the archive's write lock.
        try {
            chiamato = contatore::leggiLong(fileArchivio(cartella, nomi::FileContatore));
            noto = true;
        } catch (const ErroreQvr&) {
            noto = false;
        }
        if (!c.haCampo(nomi::CampoP11Q))
            c.campo(nomi::CampoP11Q); // 3265, before anything is written
    }
    c.modifica();
    c.assegna(campo, b.numero);
    if (singola && noto) {
        b.coda = personeInAttesa(b.numero, chiamato, dopo99);
        c.assegna(nomi::CampoP11Q, static_cast<double>(b.coda));
    }
    c.salva();
    c.chiudi();
    if (noto)
        b.davanti = std::max(0, personeInAttesa(b.numero, chiamato, dopo99) - 1);
    return b;
}

} // namespace qvr::biglietti
