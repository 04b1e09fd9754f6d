#pragma once
// The figures as an A4 report in PDF, drawn with Qt's own painter: the totals, tickets per
// hour, the waiting time per hour, calls per station, the table per day and the spans the
// journal does not cover, every label in Italian. Needs a QGuiApplication (the offscreen
// platform will do: no display is used).
#include "registro/statistiche.h"

#include <QByteArray>
#include <QString>

namespace qvr::statistiche {

// The PDF's bytes; `archivio` is named in the heading.
QByteArray pdf(const Risultato& r, const QString& archivio);

} // namespace qvr::statistiche
