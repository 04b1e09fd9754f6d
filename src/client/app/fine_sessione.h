#pragma once
// The end of the desktop session and the termination signals (SIGTERM, SIGHUP, SIGINT): the
// program ends as a close without reset would. The signal only leaves a note; the ending runs
// in the event loop between two operations, so no write is cut half way: the history, already
// on disk line by line, is closed, the single-copy check released, nothing half-written.

namespace qvr {

// Installs the handlers; the ending is chiudiProgramma(0). Safe to call more than once.
void installaFineSessione();

} // namespace qvr
