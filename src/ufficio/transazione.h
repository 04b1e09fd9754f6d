#pragma once
// One transaction on one database of the archive, on either engine, for the work the record
// cursor does not do: reading every row of a table and adding, changing or removing rows
// (the users). Names are given bare; tabella() and campo() quote them for the engine. Values
// are always bound, never pasted into the SQL.
//
// With `scrittura` the transaction takes the database's write lock at once (SQLite's BEGIN
// IMMEDIATE; on a server the rows read are locked with FOR UPDATE by the caller), so that what
// is read cannot change before conferma(). A database another program holds is waited for up
// to the cursor's busy timeout. Without conferma() everything is rolled back. Failures are
// ErroreQvr with the archive's numbers (3024 missing database, 3044 folder or server
// unreachable, 3078 table missing, 3260 still locked).

#include "archive/errori.h"

#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>

namespace qvr::ufficio {

class Transazione {
public:
    Transazione(const QString& archivio, const QString& file, bool scrittura);
    ~Transazione();
    Transazione(const Transazione&) = delete;
    Transazione& operator=(const Transazione&) = delete;

    bool suServer() const;
    QString tabella(const QString& nome) const;
    static QString campo(const QString& nome, bool server);
    QString campo(const QString& nome) const { return campo(nome, suServer()); }
    // " FOR UPDATE" on a server inside a write transaction, "" otherwise.
    QString perModifica() const;

    QVector<QSqlRecord> righe(const QString& sql, const QVariantList& valori = {},
                              const QString& oggetto = {});
    // Rows changed.
    int esegui(const QString& sql, const QVariantList& valori = {}, const QString& oggetto = {});
    void conferma();

private:
    struct Dati;
    std::unique_ptr<Dati> d;
};

} // namespace qvr::ufficio
