#pragma once
// The station settings file as the client reads it at start: its format and writing are in
// archive/file_percorsi.h, shared with the tools.

#include "archive/file_percorsi.h"

namespace qvr {

// Reads percorsi.txt into PercorsoArchivi and PostazioneTesto.
void LeggiPercorsi();

} // namespace qvr
