#pragma once
// Copying an archive between the two engines (a folder and a server, either way, or two of a
// kind): the destination is made afresh as creaArchivio makes it, then every table gets the
// source's rows (every field of the archive's layout, in the source's row order) and the counter
// the source's text. Each database is written in one transaction. Afterwards every field of
// every row and the counter are read again from both sides and compared.

#include <QString>
#include <QStringList>

namespace qvr {

// Copies `da` to `a` (folders as native paths, or server URIs). An existing archive at `a` is
// replaced only with `sovrascrivi` (otherwise error 75). Failures are ErroreQvr; the source is
// never written.
void copiaArchivio(const QString& da, const QString& a, bool sovrascrivi);

// The differences between two archives, one line each ("QVRB.mdb NumeriCode3 riga 1 NumeroA1:
// 5 / 6"); empty when every field and the counter match. A table that cannot be read on either
// side is a difference too.
QStringList confrontaArchivi(const QString& da, const QString& a);

} // namespace qvr
