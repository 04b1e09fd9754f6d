#include "ufficio/manutenzione.h"

#include "archive/contatore.h"
#include "archive/copia_archivio.h"
#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "registro/deposito.h"
#include "ufficio/transazione.h"

#include <QFileInfo>
#include <QSet>

namespace qvr::ufficio {

namespace {

QString nomeArchivio(const QString& archivio) {
    return eServer(archivio) ? server::uriPerMessaggi(archivio) : archivio;
}

// SQLite's own check of the file, page by page.
void integritaFile(const QString& archivio, const QString& file, Controllo& c) {
    Transazione t(archivio, file, false);
    const auto righe = t.righe(QStringLiteral("PRAGMA integrity_check"));
    QStringList esito;
    for (const QSqlRecord& r : righe)
        esito << r.value(0).toString();
    if (esito == QStringList{QStringLiteral("ok")}) {
        c.righe << QStringLiteral("%1: il file è integro.").arg(file);
    } else {
        c.sano = false;
        c.righe << QStringLiteral("%1: il file è danneggiato: %2").arg(file, esito.join(u"; "));
    }
}

// Each table of the layout in `file` with its fields and a first row.
void strutturaFile(const QString& archivio, const QString& file,
                   const std::vector<TabellaArchivio>& tabelle, Controllo& c) {
    Transazione t(archivio, file, false);
    int buone = 0;
    int totali = 0;
    for (const TabellaArchivio& tab : tabelle) {
        if (tab.file != file)
            continue;
        ++totali;
        QStringList campi;
        for (const QString& nome : tab.campi)
            campi << t.campo(nome);
        try {
            const auto righe = t.righe(QStringLiteral("SELECT %1 FROM %2 LIMIT 1")
                                           .arg(campi.join(u", "), t.tabella(tab.tabella)),
                                       {}, tab.tabella);
            // The check of one table must not spoil the others on a server: each read is
            // its own statement, and a failed one ends the transaction there.
            const bool righeAttese = tab.tabella != nomi::TabUtenti && file != nomi::FileAgenda;
            if (righe.isEmpty() && righeAttese) {
                c.sano = false;
                c.righe << QStringLiteral("%1, tabella %2: nessuna riga (i programmi ne leggono "
                                          "la prima).")
                               .arg(file, tab.tabella);
            } else {
                ++buone;
            }
        } catch (const ErroreQvr& e) {
            c.sano = false;
            c.righe
                << QStringLiteral("%1, tabella %2: %3").arg(file, tab.tabella, e.testoCompleto());
            if (t.suServer())
                return;
        }
    }
    if (buone == totali)
        c.righe
            << QStringLiteral("%1: %2 tabelle complete, con tutti i campi.").arg(file).arg(totali);
}

// The office's journal, when the archive has one: on a folder SQLite's check of Registro.mdb,
// then on either engine its layout's version and its last event. An archive without a journal
// yet (no recorder ever ran on it) is no problem.
void controllaRegistro(const QString& archivio, Controllo& c) {
    const auto giornale = registro::deposito(archivio);
    try {
        if (!eServer(archivio) && !QFileInfo::exists(fileArchivio(archivio, registro::NomeFile))) {
            c.righe << QStringLiteral("Registro: non ancora presente (lo crea qvr-server).");
            return;
        }
        if (!eServer(archivio))
            integritaFile(archivio, registro::NomeFile, c);
        giornale->apriLettura();
        const int versione = giornale->versione();
        const std::optional<registro::Evento> ultimo = giornale->ultimo();
        c.righe << (ultimo ? QStringLiteral("Registro %1: versione %2, ultimo evento n. %3 del %4.")
                                 .arg(giornale->nome())
                                 .arg(versione)
                                 .arg(ultimo->seq)
                                 .arg(ultimo->ora().toString(QStringLiteral("dd/MM/yyyy HH:mm")))
                           : QStringLiteral("Registro %1: versione %2, ancora nessun evento.")
                                 .arg(giornale->nome())
                                 .arg(versione));
    } catch (const ErroreQvr& e) {
        if (eServer(archivio) && e.numero() == Err::DatabaseNonTrovato) {
            c.righe << QStringLiteral("Registro: non ancora presente (lo crea qvr-server).");
            return;
        }
        c.sano = false;
        c.righe << QStringLiteral("Registro: %1").arg(e.testoCompleto());
    }
}

} // namespace

Controllo controllaArchivio(const QString& archivio) {
    Controllo c;
    c.righe << QStringLiteral("Archivio %1").arg(nomeArchivio(archivio));
    const std::vector<TabellaArchivio> tabelle = tabelleArchivio();
    QStringList files;
    for (const TabellaArchivio& t : tabelle)
        if (!files.contains(t.file))
            files << t.file;
    for (const QString& file : files) {
        try {
            if (!eServer(archivio))
                integritaFile(archivio, file, c);
            strutturaFile(archivio, file, tabelle, c);
        } catch (const ErroreQvr& e) {
            c.sano = false;
            c.righe << QStringLiteral("%1: %2").arg(file, e.testoCompleto());
        }
    }
    try {
        const qint32 n = contatore::leggiLong(fileArchivio(archivio, nomi::FileContatore));
        c.righe << QStringLiteral("%1: ultimo numero della numerazione singola %2.")
                       .arg(nomi::FileContatore)
                       .arg(n);
    } catch (const ErroreQvr& e) {
        c.sano = false;
        c.righe << QStringLiteral("%1: %2").arg(nomi::FileContatore, e.testoCompleto());
    }
    controllaRegistro(archivio, c);
    c.righe << (c.sano ? QStringLiteral("Nessun problema trovato.")
                       : QStringLiteral("Trovati problemi: vedere le righe sopra."));
    return c;
}

Controllo copiaEVerifica(const QString& da, const QString& a, bool sovrascrivi) {
    Controllo c;
    copiaArchivio(da, a, sovrascrivi);
    const QStringList differenze = confrontaArchivi(da, a);
    c.righe
        << QStringLiteral("Archivio copiato da %1 a %2.").arg(nomeArchivio(da), nomeArchivio(a));
    if (differenze.isEmpty()) {
        c.righe << QStringLiteral("Verifica: ogni campo di ogni riga e il contatore coincidono.");
    } else {
        c.sano = false;
        c.righe << QStringLiteral("Verifica: %1 differenze.").arg(differenze.size());
        c.righe << differenze;
    }
    return c;
}

} // namespace qvr::ufficio
