#include "archive/errori_sql.h"

#include "archive/errori.h"

#include <QFileInfo>
#include <QSqlError>

namespace qvr {

namespace {
// SQLite's primary result codes.
constexpr int SqlErrore = 1;
constexpr int SqlPermesso = 3;
constexpr int SqlOccupato = 5;
constexpr int SqlBloccato = 6;
constexpr int SqlSolaLettura = 8;
constexpr int SqlIO = 10;
constexpr int SqlDanneggiato = 11;
constexpr int SqlPieno = 13;
constexpr int SqlNonDatabase = 26;
} // namespace

int codiceSqlite(const QSqlError& errore) {
    bool ok = false;
    const int esteso = errore.nativeErrorCode().toInt(&ok);
    return ok ? (esteso & 0xff) : -1;
}

int numeroDaSql(const QSqlError& errore) {
    switch (codiceSqlite(errore)) {
    case SqlOccupato:
    case SqlBloccato:
        return Err::RecordBloccato;
    case SqlSolaLettura:
    case SqliteNonApribile:
        return Err::SolaLettura;
    case SqlPermesso:
        return Err::AccessoNegato;
    case SqlIO:
        return Err::ErroreDiscoRete;
    case SqlDanneggiato:
        return Err::DatabaseDanneggiato;
    case SqlPieno:
        return Err::DiscoPieno;
    case SqlNonDatabase:
        return Err::FormatoNonRiconosciuto;
    case SqlErrore:
    default: {
        const QString testo =
            errore.databaseText().isEmpty() ? errore.text() : errore.databaseText();
        if (testo.contains(QStringLiteral("no such table"), Qt::CaseInsensitive))
            return Err::TabellaNonTrovata;
        if (testo.contains(QStringLiteral("no such column"), Qt::CaseInsensitive))
            return Err::CampoNonTrovato;
        return Err::ErroreArchivio;
    }
    }
}

int numeroDaSql(const QSqlError& errore, const QString& fileDatabase) {
    const int numero = numeroDaSql(errore);
    if (fileDatabase.isEmpty() || QFileInfo::exists(fileDatabase))
        return numero;
    const QFileInfo cartella(QFileInfo(fileDatabase).absolutePath());
    return cartella.isDir() ? Err::DatabaseNonTrovato : Err::PercorsoNonValido;
}

} // namespace qvr
