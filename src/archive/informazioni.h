#pragma once
// What every program of the system says of itself: its version and its licence, for --version
// and --help. Both are answered without a display, so a window program asked only for them
// starts no window system (informazioni::soloInformazioni tells it before it does).

#include <QCommandLineOption>
#include <QString>

namespace qvr::informazioni {

// The version of the system ("3.7.2").
QString versione();
// The copyright and licence notice, in Italian, a few lines ending with a line end.
QString testoLicenza();
// What --version prints: "qvr-archivio 3.7.2", then the notice.
QString testoVersione(const QString& programma);

// -v, --version.
QCommandLineOption opzioneVersione();

// Whether the command line asks for the help or the version (-h, --help, --help-all, -v,
// --version): a window program then answers with a plain core application, without a display.
bool soloInformazioni(int argc, const char* const* argv);

} // namespace qvr::informazioni
