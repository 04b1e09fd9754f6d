#pragma once
// The journal of a server archive: the schema `registro` in the office's database, beside the
// schemas of the archive's files, written through the server engine's connections (Qt's QPSQL).
//
// The same events and guarantees as the file Registro.mdb: table "Eventi" with the same fields,
// "Seq" one more than the highest so far, given under an EXCLUSIVE lock of the table for the
// write transaction (readers never wait, a second writer waits its turn), so the numbers only
// grow in the order the events were written; table "Stato" for the recorder's state; table
// "Versione" (one row) for the layout version, which the migrations below bring up to date, as
// user_version does for the file.
//
// A journal kept aside (damaged: a table or field missing) is the schema renamed
// "registro_danneggiato_AAAAMMGG_HHMMSS" (with _2, _3 ... when taken), never dropped.
#include "registro/registro.h"

#include <QString>

#include <memory>

class QSqlError;

namespace qvr::server {
class Connessione;
}

namespace qvr::registro {

inline const QString SchemaRegistro = QStringLiteral("registro");

class RegistroServer : public Deposito {
public:
    // `uri` is the server archive's address; `schema` the journal's schema.
    explicit RegistroServer(QString uri, QString schema = SchemaRegistro);
    ~RegistroServer() override;

    QString nome() const override;
    void apriScrittura() override;
    void apriLettura() override;
    void chiudi() override;
    bool aperto() const override { return m_conn != nullptr; }
    int versione() override;
    void aggiungi(std::vector<Evento>& eventi, const std::optional<QString>& stato = {}) override;
    QString stato() override;
    std::optional<Evento> ultimo() override;
    QString accantona(const QDateTime& ora) override;
    QByteArray chiaveBiglietti() override;

protected:
    void leggiCon(qint64 dal, qint64 al, bool leggero, void (*f)(void*, const Evento&),
                  void* dati) override;

private:
    void apri(bool scrittura);
    void migra();
    void verificaTabelle();
    void esegui(const QString& sql, const QVariantList& valori = {});
    [[noreturn]] void fallisci(const QSqlError& e, const QString& oggetto);
    QString tab(const char* nome) const;
    QString colonne() const;
    void preparaChiave();

    QString m_uri;
    QString m_schema;
    std::unique_ptr<server::Connessione> m_conn;
    int m_versione = 0; // of the journal open
    QByteArray m_chiave;
};

} // namespace qvr::registro
