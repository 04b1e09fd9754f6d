#pragma once
// The application object of a window program: a plain QCoreApplication when the command line
// asks only for --help or --version (they need no screen), a QApplication otherwise; with the
// organisation "qvr" and the program's name set, for its settings file.

#include <QCoreApplication>
#include <QString>

#include <memory>

namespace qvr::finestre {

std::unique_ptr<QCoreApplication> creaApplicazione(int& argc, char** argv, const QString& nome);

} // namespace qvr::finestre
