#pragma once
// The record cursor: the one way the client reaches the archive databases.
//
// Use, every time afresh:
//   1. impostaDatabase(text of folder + "\QVRB.mdb")
//   2. impostaOrigine("Configurazione")  or  impostaOrigine("Select * from [NumeriCode3]")
//      or impostaOrigine("select * from Utenti where [id]=4")
//   3. aggiorna()          opens the file, runs the source, stands on the first row
//   4. campo("NumeroA1") / campoLong(...) / haRighe()
//   5. modifica(); assegna("NumeroA1", 42); assegna(...); salva();
//   6. chiudi()            (the destructor closes too)
//
// Databases are SQLite 3 files. The cursor never creates a file, a table or a row: a missing
// file fails with 3024, a missing folder with 3044. Only the first row the source returns is read
// or rewritten, identified by its rowid, so a write never touches another row. Every database is
// kept in rollback-journal mode (a file found in WAL mode is switched back). A database that
// another program holds (a writer, a long reader such as a backup) is waited for, up to the
// busy timeout (30 s: only a stuck peer reaches it); past it the failure is 3260. While it
// waits, the cursor calls the waiting hook several times a second, so that a window can show
// the wait and keep painting.
//
// Every failure is an ErroreQvr with one of the numbers of archive/errori.h.

#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

namespace qvr {

class Cursore {
public:
    Cursore();
    ~Cursore();
    Cursore(const Cursore&) = delete;
    Cursore& operator=(const Cursore&) = delete;

    // Step 1: the database as archive-path text (folder + "\" + file name); mapped to the native
    // file system by percorsoNativo().
    void impostaDatabase(const QString& percorsoTesto);
    // Step 2: a bare table name, "Select * from [T]", or "select * from T where [f]=V".
    void impostaOrigine(const QString& origine);
    // Step 3: open the database afresh and run the source; the cursor stands on the first row
    // (or on no row when the source returns none). With perModifica the read happens inside a
    // write transaction that salva() commits: nobody can change the row between the read and
    // the write. Closes whatever this cursor had open before.
    void aggiorna(bool perModifica = false);

    // Step 4.
    bool haRighe() const;   // the source returned at least one row
    int contaRighe() const; // 0 or 1: tells an empty result from a non-empty one
    bool haCampo(const QString& nome) const;
    // The raw value of a field of the current row. 3265 when the field is missing,
    // 3021 when there is no current row.
    QVariant campo(const QString& nome) const;
    // The field as text as the client shows it: numbers in plain decimal (a floating value that
    // holds a whole number without decimals: 25.0 gives "25"). Null gives 94.
    QString campoTesto(const QString& nome) const;
    // The field as a Long: Null 94, text that is not a number 13, beyond 32 bits 6.
    qint32 campoLong(const QString& nome) const;
    // A Yes/No field: Null and 0 are False, any other number True.
    bool campoSiNo(const QString& nome) const;

    // Step 5: begin an edit of the current row (3021 without one), assign fields, save.
    void modifica();
    // Values: qint32/int, qint16, double, bool (stored as -1/0) or QString.
    void assegna(const QString& nome, const QVariant& valore);
    void salva();

    // Step 6. Rolls back an edit that was not saved. Safe to call more than once.
    void chiudi();

    bool aperto() const;
    QString database() const { return m_percorsoTesto; }
    QString origine() const { return m_origine; }

    // Busy timeout of every cursor opened afterwards, in milliseconds (default 30000).
    static void impostaTimeoutOccupato(int millisecondi);
    static int timeoutOccupato();

    // The waiting hook, for the one thread that uses cursors with it: Inizio when a step first
    // finds the database busy, Continua about every 100 ms while it waits, Fine when the wait
    // is over (whatever its outcome). The hook must not use a cursor itself.
    enum class FaseAttesa { Inizio, Continua, Fine };
    static void impostaAttesa(std::function<void(FaseAttesa)> gancio);
    // The longest wait on a busy database of this process so far, in milliseconds.
    static qint64 attesaMassima();

private:
    struct Dati;
    std::unique_ptr<Dati> d;
    QString m_percorsoTesto;
    QString m_origine;
};

// Conversions the client uses on archive values, shared by the cursor and its callers.
namespace valori {
// As Cursore::campoTesto, for a value already read; `nome` only names the field in an error.
QString comeTesto(const QVariant& v, const QString& nome = {});
qint32 comeLong(const QVariant& v, const QString& nome = {});
bool comeSiNo(const QVariant& v);
} // namespace valori

} // namespace qvr
