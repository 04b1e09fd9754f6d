#pragma once
// The client's error number for a failure of the SQLite driver, told apart by the engine's
// primary result code and, for a generic error, by its text (a missing table or column).

class QSqlError;
class QString;

namespace qvr {

int numeroDaSql(const QSqlError& errore);
// The same for a failure on the database file `fileDatabase`: when that file has vanished from
// its place meanwhile (its folder renamed away, or replaced by another folder), the failure is
// the file or folder not found (3024, 3044), whatever the engine said about the journal it
// could no longer create (read-only, disk or network failure).
int numeroDaSql(const QSqlError& errore, const QString& fileDatabase);

// The engine's primary result code of a failure (-1 when the driver gave none).
int codiceSqlite(const QSqlError& errore);

// The primary result code of a file that cannot be opened.
constexpr int SqliteNonApribile = 14;

} // namespace qvr
