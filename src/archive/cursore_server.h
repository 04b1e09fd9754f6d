#pragma once
// The record cursor's work on a server archive (see cursore.h and server.h); used by Cursore
// only. The first row is the one with the lowest key (server::ColonnaChiave); a row to be
// changed is read with FOR UPDATE inside the transaction that salva() commits, so a write never
// touches another row and nobody changes the row between the read and the write. A row that
// another station holds is waited for up to Cursore::timeoutOccupato() (3260 past it), with the
// cursor's waiting hook.

#include "archive/cursore.h"
#include "archive/server.h"

#include <QSqlRecord>

#include <memory>

namespace qvr {

// The waiting hook and the longest wait of cursore.cpp, for the server's lock waits.
void notificaAttesa(Cursore::FaseAttesa fase);
void registraAttesa(qint64 millisecondi);

class CursoreServer {
public:
    // `tabella` and `condizione` when the source is one of the forms the cursor can edit
    // (analizzata); otherwise `testo` is run as it stands, its bracketed names translated.
    struct Origine {
        bool analizzata = false;
        QString tabella;
        QString condizione;
        QString testo;
    };

    CursoreServer(server::Posizione posizione, Origine origine);
    ~CursoreServer();
    CursoreServer(const CursoreServer&) = delete;
    CursoreServer& operator=(const CursoreServer&) = delete;

    void apri(bool perModifica);
    void modifica();
    void salva(const QVector<std::pair<QString, QVariant>>& assegnati);
    void chiudi() noexcept;

    bool haRiga = false;
    bool modificabile = false;
    bool inTransazione = false;
    QSqlRecord record;

private:
    std::optional<QSqlError> leggi(bool perAggiornamento, bool perChiave, bool senzaChiave);
    void leggiBloccando(bool perChiave);
    void leggiTesto();
    QString oggetto() const;
    [[noreturn]] void fallisci(const QSqlError& e);
    [[noreturn]] void fallisci(const ErroreQvr& e);

    server::Posizione m_pos;
    Origine m_origine;
    std::unique_ptr<server::Connessione> m_conn;
    qint64 m_chiave = 0;
};

} // namespace qvr
