#include "archive/errori.h"

#include "archive/server.h"

#include <cerrno>

namespace qvr {

QString descrizioneErrore(int numero) {
    switch (numero) {
    case Err::Overflow:
        return QStringLiteral("Overflow");
    case Err::TipoNonCorrispondente:
        return QStringLiteral("Tipo non corrispondente");
    case Err::FileNonTrovato:
        return QStringLiteral("File non trovato");
    case Err::ErroreIO:
        return QStringLiteral("Errore di I/O del dispositivo");
    case Err::DiscoPieno:
        return QStringLiteral("Disco pieno");
    case Err::FineFile:
        return QStringLiteral("Input oltre la fine del file");
    case Err::AutorizzazioneNegata:
        return QStringLiteral("Autorizzazione negata");
    case Err::AccessoNegato:
        return QStringLiteral("Errore di accesso al percorso/file");
    case Err::PercorsoNonTrovato:
        return QStringLiteral("Impossibile trovare il percorso");
    case Err::UsoNonValidoNull:
        return QStringLiteral("Uso non valido di Null");
    case Err::ErroreArchivio:
        return QStringLiteral("Errore dell'archivio");
    case Err::NessunRecordCorrente:
        return QStringLiteral("Nessun record corrente");
    case Err::DatabaseNonTrovato:
        return QStringLiteral("Impossibile trovare il file del database");
    case Err::ErroreDiscoRete:
        return QStringLiteral("Errore del disco o della rete");
    case Err::PercorsoNonValido:
        return QStringLiteral("Percorso non valido");
    case Err::DatabaseDanneggiato:
        return QStringLiteral("Impossibile aprire il database: il file è danneggiato");
    case Err::SolaLettura:
        return QStringLiteral("Impossibile aggiornare: il database o la cartella è di sola "
                              "lettura");
    case Err::TabellaNonTrovata:
        return QStringLiteral("Impossibile trovare la tabella o la query di input");
    case Err::RecordBloccato:
        return QStringLiteral("Impossibile aggiornare: record bloccato da un altro utente");
    case Err::CampoNonTrovato:
        return QStringLiteral("Campo non trovato in questo insieme");
    case Err::FormatoNonRiconosciuto:
        return QStringLiteral("Formato di database non riconosciuto");
    default:
        return {};
    }
}

int numeroDaErrno(int codice) {
    switch (codice) {
    case ENOENT:
    case ENOTDIR:
        return Err::PercorsoNonTrovato;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return Err::AccessoNegato;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return Err::DiscoPieno;
    default:
        return Err::ErroreIO;
    }
}

ErroreQvr::ErroreQvr(int numero, const QString& dettaglio, const QString& testoMotore)
    // A server address in either text never shows its password, whoever built the error.
    : m_numero(numero), m_descrizione(descrizioneErrore(numero)),
      m_dettaglio(server::mascheraTesto(dettaglio)),
      m_testoMotore(server::mascheraTesto(testoMotore)) {
    if (m_descrizione.isEmpty())
        m_descrizione = QStringLiteral("Errore non previsto");
    m_what = testoCompleto().toStdString();
}

QString ErroreQvr::testoCompleto() const {
    QString testo = QStringLiteral("Errore %1: %2").arg(m_numero).arg(m_descrizione);
    if (!m_dettaglio.isEmpty())
        testo += QStringLiteral(" (%1)").arg(m_dettaglio);
    if (!m_testoMotore.isEmpty())
        testo += QStringLiteral(": ") + m_testoMotore;
    return testo;
}

} // namespace qvr
