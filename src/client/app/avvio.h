#pragma once
// The start of the program: the application's names and the launcher as the first window.

class QApplication;

namespace qvr {

class Apertura;

// Names the application (window system, settings locations).
void impostaApplicazione(QApplication& applicazione);

// Runs the launcher's load sequence and shows it. A failure the load does not recover from is
// reported in the one central place and the program ends; returns false in that case.
bool apriPrimaFinestra(Apertura& apertura);

// The answer to --help or --version (informazioni::soloInformazioni), on standard output and
// without a display; the program's exit code. The program takes no other argument.
int rispondiInformazioni(int argc, char* argv[]);

} // namespace qvr
