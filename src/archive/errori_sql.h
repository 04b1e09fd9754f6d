#pragma once
// The client's error number for a failure of the SQLite driver, told apart by the engine's
// primary result code and, for a generic error, by its text (a missing table or column).

class QSqlError;

namespace qvr {

int numeroDaSql(const QSqlError& errore);

// The engine's primary result code of a failure (-1 when the driver gave none).
int codiceSqlite(const QSqlError& errore);

// The primary result code of a file that cannot be opened.
constexpr int SqliteNonApribile = 14;

} // namespace qvr
