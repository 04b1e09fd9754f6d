#include "console/display.h"

#include "app/globali.h"
#include "archive/cursore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"

namespace qvr {

namespace {

// The cursor on the station's display record, not yet refreshed.
void preparaCursore(Cursore& c) {
    c.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVRB));
    c.impostaOrigine(nomi::querySelezionaTutto(TabellaDisplayCorrente()));
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
    const QString numero = c.campoTesto(nomi::CampoNumeroA1);
    c.chiudi();
    return numero;
}

QString SeguiEAggiornaDisplay(
    const std::function<std::optional<ScritturaDisplay>(const QString& numeroLetto)>& decidi) {
    Cursore c;
    preparaCursore(c);
    c.aggiorna(true);
    const QString letto = c.campoTesto(nomi::CampoNumeroA1);
    if (const auto scrittura = decidi(letto))
        scriviRiga(c, scrittura->numero, scrittura->stato, scrittura->flag);
    c.chiudi(); // without a write, rolls the read's transaction back
    return letto;
}

} // namespace qvr
