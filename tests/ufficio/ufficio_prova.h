#pragma once
// What the manager's window's tests share: a fresh archive (a folder, or a database on the test
// server with QVR_MOTORE=server) and the raw value of a field as the stations' cursor reads it.

#include "archive/cursore.h"
#include "archive/percorsi_archivio.h"
#include "supporto.h"
#include "ufficio/configurazione.h"

#include <QVariant>

namespace qvr::test {

struct UfficioProva {
    explicit UfficioProva(const OpzioniArchivio& opzioni = {}) : ambiente(opzioni) {}
    AmbienteProva ambiente;
    QString archivio() const { return ambiente.archivio(); }

    // The field as stored, without any conversion.
    QVariant grezzo(const ufficio::Campo& c) const {
        Cursore cur;
        cur.impostaDatabase(unisciPercorso(archivio(), c.file));
        cur.impostaOrigine(c.origine);
        cur.aggiorna();
        return cur.campo(c.nome);
    }
    // Another program's write of the field, straight through the cursor.
    void scriviAltrove(const ufficio::Campo& c, const QVariant& v) const {
        Cursore cur;
        cur.impostaDatabase(unisciPercorso(archivio(), c.file));
        cur.impostaOrigine(c.origine);
        cur.aggiorna(true);
        cur.modifica();
        cur.assegna(c.nome, v);
        cur.salva();
    }
};

} // namespace qvr::test
