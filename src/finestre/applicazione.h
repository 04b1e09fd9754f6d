#pragma once
// The application object of a window program: a plain QCoreApplication when the command line
// asks only for --help or --version, or holds one of `senzaSchermo` (they need no screen), a
// QApplication otherwise; with the organisation "qvr" and the program's name set, for its
// settings file, and the toolkit's own texts in Italian.

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <memory>

namespace qvr::finestre {

std::unique_ptr<QCoreApplication> creaApplicazione(int& argc, char** argv, const QString& nome,
                                                   const QStringList& senzaSchermo = {});

// The toolkit's standard buttons and dialogs ("Sì", "Annulla") in Italian like the rest of the
// program, from Qt's own translation (package qt6-translations-l10n); without it they stay in
// English.
void traduciToolkit(QCoreApplication& applicazione);

} // namespace qvr::finestre
