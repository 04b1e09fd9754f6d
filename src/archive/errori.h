#pragma once
// Error numbers of the client: every failure the client reports carries one of these numbers
// and its Italian description. Callers that recover from a failure test the number.
//
// Numbers taken from the file system and the archive engine, which callers test:
//   53   file non trovato                      (settings file, counter file)
//   62   input oltre la fine del file          (settings file with fewer than two values,
//                                                empty counter file)
//   70   autorizzazione negata                 (counter file held by another station past the
//                                                retry bound)
//   76   impossibile trovare il percorso       (a folder of the path does not exist)
//   3024 impossibile trovare il file           (archive database missing)
//   3044 percorso non valido                   (archive folder missing)
// Numbers chosen for the other conditions the callers must tell apart:
//   6    overflow                              (a number beyond 32 bits, a counter at its top,
//                                                a settings value not ended in the first 64 KiB)
//   13   tipo non corrispondente               (a value of the wrong type: "abc" for a number;
//                                                a settings or counter file holding NUL bytes)
//   57   errore di I/O del dispositivo         (a read or write of a plain file failed)
//   61   disco pieno                           (no space left while writing)
//   75   errore di accesso al percorso/file    (read-only file or folder, no permission)
//   94   uso non valido di Null                (a Null where a value is needed)
//   3021 nessun record corrente                (a table without rows)
//   3043 errore del disco o della rete         (the archive's storage failed)
//   3049 database danneggiato                  (the database file is corrupt)
//   3051 database di sola lettura              (the archive cannot be written)
//   3078 tabella non trovata                   (a table or query source that does not exist)
//   3260 record bloccato da un altro utente    (still locked after the busy timeout)
//   3265 campo non trovato                     (a field missing in the table)
//   3343 formato di database non riconosciuto  (a file that is not a database)
//   3000 errore dell'archivio                  (any other failure of the database engine)

#include <QString>

#include <exception>
#include <string>

namespace qvr {

namespace Err {
constexpr int Overflow = 6;
constexpr int TipoNonCorrispondente = 13;
constexpr int FileNonTrovato = 53;
constexpr int ErroreIO = 57;
constexpr int DiscoPieno = 61;
constexpr int FineFile = 62;
constexpr int AutorizzazioneNegata = 70;
constexpr int AccessoNegato = 75;
constexpr int PercorsoNonTrovato = 76;
constexpr int UsoNonValidoNull = 94;
constexpr int ErroreArchivio = 3000;
constexpr int NessunRecordCorrente = 3021;
constexpr int DatabaseNonTrovato = 3024;
constexpr int ErroreDiscoRete = 3043;
constexpr int PercorsoNonValido = 3044;
constexpr int DatabaseDanneggiato = 3049;
constexpr int SolaLettura = 3051;
constexpr int TabellaNonTrovata = 3078;
constexpr int RecordBloccato = 3260;
constexpr int CampoNonTrovato = 3265;
constexpr int FormatoNonRiconosciuto = 3343;
} // namespace Err

// The fixed Italian description of an error number ("" for an unknown number).
QString descrizioneErrore(int numero);

// The error number for a failure of the operating system on a plain file (an errno value):
// 76 for a missing folder or file path, 75 for no permission or a read-only file system,
// 61 for a full disk or quota, 57 for anything else.
int numeroDaErrno(int codice);

// A failure of the client: its number, its Italian description and, where it helps the
// operator, a detail (the file or table concerned). The engine's own text of a database failure
// (in English) is kept apart, for the report's technical details only.
class ErroreQvr : public std::exception {
public:
    explicit ErroreQvr(int numero, const QString& dettaglio = {}, const QString& testoMotore = {});

    int numero() const { return m_numero; }
    QString descrizione() const { return m_descrizione; }
    QString dettaglio() const { return m_dettaglio; }
    QString testoMotore() const { return m_testoMotore; }
    // "Errore 3024: Impossibile trovare il file. (/srv/qvr/QVR.mdb)"
    QString testoCompleto() const;
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_numero;
    QString m_descrizione;
    QString m_dettaglio;
    QString m_testoMotore;
    std::string m_what;
};

} // namespace qvr
