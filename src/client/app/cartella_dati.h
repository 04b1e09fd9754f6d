#pragma once
// The working directory of an installed client.
//
// The client keeps its station settings file (percorsi.txt) and its call history
// (Cronologia-NN.txt) in its working directory. A client started from the desktop menu would
// otherwise work in whatever folder the session happens to give it, so a client that runs from
// its installed folder first enters the user's data folder, $XDG_DATA_HOME/qvr-client
// (normally ~/.local/share/qvr-client), creating it on the first start. The folder belongs to
// the user, not to the package: updates and reinstalls leave it alone. A client run from a build
// folder keeps the working directory it was given.

#include <QString>

namespace qvr {

// The data folder of the user: $XDG_DATA_HOME/qvr-client, or ~/.local/share/qvr-client;
// empty when the system names no data location.
QString cartellaDatiUtente();

// When `cartellaProgramma` (the folder of the running executable) is `cartellaInstallata`
// (both compared after resolving links), creates the user's data folder if it is missing and
// makes it the working directory; returns that folder. Returns an empty text and changes nothing
// when the program runs from anywhere else or `cartellaInstallata` is empty.
// Throws ErroreQvr (76 missing path, 75 no permission, 61 disk full, 57 other failures) with the
// folder as detail when the folder cannot be created or entered.
QString entraInCartellaDati(const QString& cartellaProgramma, const QString& cartellaInstallata);

} // namespace qvr
