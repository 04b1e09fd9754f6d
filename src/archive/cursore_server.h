#pragma once
// The record cursor's work on a server archive (see cursore.h and server.h): the cursor engine
// MotoreServer gives Cursore (the folder's one lives in cursore.cpp). The first row is the one with
// the lowest key (server::ColonnaChiave); a row to be changed is read with FOR UPDATE inside the
// transaction that salva() commits, so a write never touches another row and nobody changes the row
// between the read and the write. A row that another station holds is waited for up to
// Cursore::timeoutOccupato() (3260 past it), with the cursor's waiting hook.

#include "archive/cursore.h"
#include "archive/motore.h"
#include "archive/server.h"

#include <QSqlRecord>

#include <memory>

namespace qvr {

// The waiting hook and the longest wait of cursore.cpp, for the server's lock waits.
void notificaAttesa(Cursore::FaseAttesa fase);
void registraAttesa(qint64 millisecondi);

class CursoreServer : public CursoreMotore {
public:
    CursoreServer(server::Posizione posizione, Origine origine);
    ~CursoreServer() override;
    CursoreServer(const CursoreServer&) = delete;
    CursoreServer& operator=(const CursoreServer&) = delete;

    QString nome() const override;
    bool aperto() const override { return m_conn != nullptr; }
    void apri(bool perModifica) override;
    void modifica() override;
    void salva(const Assegnati& assegnati) override;
    void chiudi() noexcept override;

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
