#pragma once
// The shared counter file Nr4All.txt: one line of comma-separated items ended by CR LF; the
// first item is the last number drawn in single numbering.
//
// Every open is exclusive across processes and machines: the file itself is locked with
// flock() (carried over NFS as a whole-file lock and over SMB mounts), and never replaced, so the
// lock always stays on the file the others open. A held file is retried with short pauses up to
// a bound of a few seconds; past the bound the caller gets error 70. A rewrite overwrites the
// file in place and cuts its length only afterwards, so a process killed at any instant leaves
// a file whose first item is the old or the new number, never an empty one.
//
// Paths are native paths (see percorsi_archivio.h). Errors: 53 missing file, 76 missing folder,
// 70 held past the bound, 75 no permission, 62 empty file, 13 a first item that is not a number,
// 6 a number beyond 32 bits, 57 or 61 a failed write.

#include <QString>

#include <functional>
#include <optional>

namespace qvr::contatore {

// The bound of the retry on a held file, in milliseconds (default 5000).
void impostaLimiteAttesa(int millisecondi);
int limiteAttesa();

// The first item of the file, as text (the console shows it at start).
QString leggiTesto(const QString& percorso);
// The first item as a Long.
qint32 leggiLong(const QString& percorso);

// Rewrites an existing file with the one-item line "n" CR LF.
void scriviNumero(const QString& percorso, qint32 numero);
// The same, creating the file (the server's row) when it is missing.
void scriviNumeroCreando(const QString& percorso, qint32 numero);
// Rewrites the file (creating it when missing) with the line "n,1,station" CR LF.
void scriviImpostazione(const QString& percorso, qint32 numero, qint32 postazione);

// The single-lock draw: under one lock, reads the first item N, takes 0 instead of N when
// dopo99 and N is exactly 99, rewrites the file with that plus one and returns it.
// letto receives the number the draw started from (after the wrap). A counter at the largest
// Long is refused with error 6 and nothing is written.
qint32 preleva(const QString& percorso, bool dopo99, qint32* letto = nullptr);

// The same draw, made only when `ammesso` holds for the first item N read under the lock (the
// number before the wrap); `ammesso` runs while the lock is held, so no other station draws in
// between. When it does not hold nothing is written and the result is nullopt.
std::optional<qint32> prelevaSe(const QString& percorso, bool dopo99,
                                const std::function<bool(qint32)>& ammesso,
                                qint32* letto = nullptr);

} // namespace qvr::contatore
