#include "launcher/percorsi.h"

#include "app/globali.h"

namespace qvr {

void LeggiPercorsi() {
    const ValoriPercorsi valori = leggiFilePercorsi(NomeFilePercorsi);
    PercorsoArchivi = valori.cartella;
    PostazioneTesto = valori.postazione;
}

} // namespace qvr
