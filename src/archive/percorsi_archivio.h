#pragma once
// Where the archive files lie.
//
// The archive folder is kept as text, exactly as the settings file holds it (a Windows-style
// drive or share path such as "\\server\qvr" or "C:\QVR"). A file of the archive is that text
// followed by a backslash and the file name, with no other processing: a folder ending in a
// backslash gives a doubled one, an empty folder gives "\QVR.mdb".
//
// Mapping to the native file system, done in one place only (percorsoNativo): on Linux every
// backslash becomes "/", nothing else changes. So "\\server\qvr\QVR.mdb" is "//server/qvr/QVR.mdb"
// (the share mounted at /server/qvr), "/srv/qvr\QVR.mdb" is "/srv/qvr/QVR.mdb", and a doubled
// separator is harmless. On Windows the text is used as it stands.
//
// The archive may instead live on a database server: the folder value is then a connection URI
// ("postgresql://host[:port][,host2[:port2]]/database?..." or "postgres://..."). Such a value is
// never mapped: a file of the archive is still the URI, a backslash and the file name (the
// engine takes the file name for the schema that holds its tables), and percorsoNativo leaves
// it as it is.

#include <QString>

namespace qvr {

// Whether the archive folder value names a database server (a PostgreSQL connection URI).
bool eServer(const QString& cartella);

// cartella + "\" + nome, as text.
QString unisciPercorso(const QString& cartella, const QString& nome);

// The text of an archive path turned into a path of this machine's file system.
QString percorsoNativo(const QString& testo);

// unisciPercorso + percorsoNativo: where a file of the archive in cartella lies on this machine.
QString fileArchivio(const QString& cartella, const QString& nome);

} // namespace qvr
