#include "app/gestione.h"

#include "dialogs/messaggi.h"

#include <QApplication>
#include <QMap>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace qvr {

namespace {
std::function<void(int)>& uscitaCorrente() {
    static std::function<void(int)> uscita;
    return uscita;
}
QMap<int, std::function<void()>>& chiusure() {
    static QMap<int, std::function<void()>> elenco;
    return elenco;
}
int prossimoId = 1;
} // namespace

void terminaProgramma(int codice) {
    throw FineProgramma{codice};
}

void riportaErrore(const ErroreQvr& errore) {
    std::fprintf(stderr, "qvr: %s\n", qPrintable(errore.testoCompleto()));
    messaggi::mostraErrore(nullptr, QStringLiteral("QVR - Errore"), errore,
                           QStringLiteral("Il programma verrà chiuso."));
}

bool eseguiGestito(const std::function<void()>& lavoro) {
    try {
        lavoro();
        return true;
    } catch (const FineProgramma& fine) {
        chiudiProgramma(fine.codice);
    } catch (const ErroreQvr& errore) {
        riportaErrore(errore);
        chiudiProgramma(1);
    } catch (const std::exception& e) {
        riportaErrore(ErroreQvr(Err::ErroreArchivio, {}, QString::fromLocal8Bit(e.what())));
        chiudiProgramma(1);
    }
    return false;
}

void chiudiProgramma(int codice) {
    // Close in reverse order of registration; a failing close must not stop the others.
    const auto elenco = chiusure();
    chiusure().clear();
    for (auto it = elenco.cend(); it != elenco.cbegin();) {
        --it;
        try {
            it.value()();
        } catch (...) {
        }
    }
    if (uscitaCorrente()) {
        uscitaCorrente()(codice);
        return;
    }
    std::fflush(nullptr);
    // Everything the program writes is already on disk when each operation returns (the
    // archive commits, the counter file, the history lines), so nothing is lost by leaving here,
    // also from inside a modal window.
    std::_Exit(codice);
}

void impostaUscita(std::function<void(int)> uscita) {
    uscitaCorrente() = std::move(uscita);
}
void ripristinaUscita() {
    uscitaCorrente() = nullptr;
}

int registraChiusura(std::function<void()> chiusura) {
    const int id = prossimoId++;
    chiusure().insert(id, std::move(chiusura));
    return id;
}

void rimuoviChiusura(int id) {
    chiusure().remove(id);
}

} // namespace qvr
