#include "archive/nuova_giornata.h"

#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"

namespace qvr::giornata {

void nuovaGiornata(const QString& cartella, const Avanzamento& avanzamento) {
    const auto passo = [&](const QString& testo) {
        if (avanzamento)
            avanzamento(testo);
    };
    {
        Cursore c;
        c.impostaDatabase(unisciPercorso(cartella, nomi::FileTotem));
        c.impostaOrigine(nomi::TabNumerazione);
        c.aggiorna(true);
        c.modifica();
        for (int n = 1; n <= 11; ++n)
            c.assegna(nomi::campoP(n), 0);
        c.assegna(nomi::CampoP11Q, 0.0);
        c.salva();
        c.chiudi();
    }
    passo(QStringLiteral("Contatori del totem azzerati"));

    contatore::scriviNumero(fileArchivio(cartella, nomi::FileContatore), 0);
    passo(QStringLiteral("Nr4All.txt azzerato"));

    for (int n = 1; n <= 10; ++n) {
        Cursore c;
        c.impostaDatabase(unisciPercorso(cartella, nomi::FileQVRB));
        c.impostaOrigine(nomi::querySelezionaTutto(nomi::tabNumeriCode(n)));
        c.aggiorna(true);
        c.modifica();
        c.assegna(nomi::CampoNumeroA1, static_cast<qint16>(0));
        c.assegna(nomi::CampoStatoN1, static_cast<qint16>(nomi::StatoAssente));
        c.assegna(nomi::CampoF1, QStringLiteral("F"));
        c.salva();
        c.chiudi();
    }
    passo(QStringLiteral("Postazioni azzerate (Assente...)"));
}

} // namespace qvr::giornata
