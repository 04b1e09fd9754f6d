#pragma once
// The morning reset of the archive, in this order: every kiosk counter (P1..P11) and P11Q to 0;
// Nr4All.txt to 0 under its lock; every station's display record (NumeriCode1..10) to 0 in
// state 1 ("Assente...") with flag "F".
//
// Nothing is changed before everything the reset touches has been checked: the kiosk's row and
// every display row with their fields, the databases writable, and Nr4All.txt a regular file
// that can be written. A FIFO, a symbolic link or a folder in place of Nr4All.txt is refused
// with 75 at the check. A missing Nr4All.txt is no fault (the archive belongs to the server's
// program, which makes it): it is created holding 0. The first failing check or step stops the
// reset with its error (ErroreQvr). Each step writes absolute values, so a reset stopped half
// way by a failure past the checks is finished by running it again.

#include <QString>

#include <functional>

namespace qvr::giornata {

// Called after each step with its Italian description ("Contatori del totem azzerati", ...).
using Avanzamento = std::function<void(const QString&)>;

// `cartella`: the archive folder as text (see percorsi_archivio.h).
void nuovaGiornata(const QString& cartella, const Avanzamento& avanzamento = {});

} // namespace qvr::giornata
