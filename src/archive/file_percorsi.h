#pragma once
// The station settings file "percorsi.txt", in the working directory: the archive folder and the
// station number, written as one line `"folder",N` CR LF.
//
// Reading: values are separated by a comma or a line end (CR LF or LF), so they may stand on one
// line or two; a value that begins with a double quote runs to the next double quote and may
// hold commas. Only the first two values are read; the station value stays text. The file is
// read as UTF-8, or as Latin-1 when it is not valid UTF-8 (a file written on an older system).
// Failures: 53 file not found, 76 path not found, 62 end of file before the second value.
// Damaged files: a NUL byte in either value (a binary file, a file saved as UTF-16) is refused
// whole with 13, so no cut text reaches a path; the reader takes at most the first 64 KiB, and a
// value that does not end within them gives 6. A folder in place of the file gives 75. Blanks
// around an unquoted value and a leading byte order mark are dropped.
//
// Writing replaces the file in one step (a new file renamed over the old one), so a crash or a
// full disk never leaves an empty or half-written settings file; a failed write is an error:
// 61 disk full, 75 no permission (or a folder in place of the file), 76 folder missing, 57 other.
// The file written is readable by its owner only (mode 600): the folder value may be a server
// address that holds a password.

#include <QString>

namespace qvr {

inline const QString NomeFilePercorsi = QStringLiteral("percorsi.txt");

struct ValoriPercorsi {
    QString cartella;
    QString postazione;
};

// Reads the first two values of the file (a path relative to the working directory or absolute).
ValoriPercorsi leggiFilePercorsi(const QString& file = NomeFilePercorsi);

// Writes `"cartella",postazione` CR LF into the file.
void ScriviPercorsi(const QString& cartella, qint16 postazione,
                    const QString& file = NomeFilePercorsi);

// For another program's settings file that holds an archive value (Qt's INI files, rewritten
// whole by Qt through a new file that takes the old one's mode): makes it readable by its owner
// only before anything is written into it. A missing file is created empty with mode 600 (and
// its folder when missing), an existing one gets mode 600 with its content untouched. Throws the
// ErroreQvr of a failure (75 no permission, 76 folder missing...).
void rendiFilePrivato(const QString& file);

} // namespace qvr
