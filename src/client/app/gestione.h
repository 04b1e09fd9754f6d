#pragma once
// The one place where a failure that a handler does not handle becomes the operator's report.
//
// Every entry point from the event loop (a click, a key, a timer tick, the first window's load)
// runs its work through eseguiGestito(). An ErroreQvr (or any other exception) that leaves the
// work is shown to the operator as a critical message box with the error number and its Italian
// description; then the program ends. Code that must end the program on purpose (a refused start)
// calls terminaProgramma(), which unwinds to the same place.
//
// Ending the program closes the files registered with registraChiusura() (the call history) and
// leaves the process. Tests replace the ending with impostaUscita() and look at what happened.

#include "archive/errori.h"

#include <functional>

namespace qvr {

// Thrown by terminaProgramma(); caught only by eseguiGestito().
struct FineProgramma {
    int codice = 0;
};

[[noreturn]] void terminaProgramma(int codice = 0);

// Runs `lavoro`; returns true when it completed, false when it failed or ended the program.
bool eseguiGestito(const std::function<void()>& lavoro);

// Shows the report of an unhandled failure (used by eseguiGestito; public for the last-resort
// handler of the application object).
void riportaErrore(const ErroreQvr& errore);

// Ends the program now with `codice`: closes the registered files, then the process ends.
void chiudiProgramma(int codice);

// Tests: what chiudiProgramma does after closing the files (default: leave the process).
void impostaUscita(std::function<void(int)> uscita);
// Restores the default ending.
void ripristinaUscita();

// Files and resources to close when the program ends, in reverse order of registration.
int registraChiusura(std::function<void()> chiusura);
void rimuoviChiusura(int id);

} // namespace qvr
