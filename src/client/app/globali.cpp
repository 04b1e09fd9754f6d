#include "app/globali.h"

namespace qvr {

void azzeraValoriGlobali() {
    PercorsoArchivi.clear();
    PostazioneTesto.clear();
    NumeroPostazione = 0;
    IdUtente = 0;
    TotemInUso = false;
    ModoSingolo = false;
    NumeroCorrente = 0;
    NumeroChiamato = 0;
    RispostaMsg = 0;
}

} // namespace qvr
