#pragma once
// "qvr-archivio statistiche ARCHIVIO [--dal AAAA-MM-GG] [--al AAAA-MM-GG] [--csv FILE]
// [--pdf FILE]": the figures of the archive's journal on the terminal, as CSV and as PDF.
#include <QStringList>

namespace qvr::strumenti {

// `argomenti` are those after "statistiche". Returns the exit status: 0 done, 1 an archive or
// file error or no data in the range, 2 a wrong command line; messages go to stdout / stderr.
int statistiche(const QStringList& argomenti);

// Whether the command line asks for a PDF (the program then needs a GUI application object,
// without a display).
bool vuolePdf(int argc, char* argv[]);

} // namespace qvr::strumenti
