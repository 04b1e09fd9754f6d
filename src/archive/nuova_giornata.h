#pragma once
// The morning reset of the archive, in this order: every kiosk counter (P1..P11) and P11Q to 0;
// Nr4All.txt to 0 under its lock; every station's display record (NumeriCode1..10) to 0 in
// state 1 ("Assente...") with flag "F". Each step writes absolute values, so a reset stopped
// half way is finished by running it again. The first failing step stops it with its error
// (ErroreQvr); the steps before it stay done.

#include <QString>

#include <functional>

namespace qvr::giornata {

// Called after each step with its Italian description ("Contatori del totem azzerati", ...).
using Avanzamento = std::function<void(const QString&)>;

// `cartella`: the archive folder as text (see percorsi_archivio.h).
void nuovaGiornata(const QString& cartella, const Avanzamento& avanzamento = {});

} // namespace qvr::giornata
