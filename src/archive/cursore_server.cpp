#include "archive/cursore_server.h"

#include "archive/nomi.h"

#include <QElapsedTimer>
#include <QSqlQuery>

namespace qvr {

using server::ColonnaChiave;

CursoreServer::CursoreServer(server::Posizione posizione, Origine origine)
    : m_pos(std::move(posizione)), m_origine(std::move(origine)) {}

CursoreServer::~CursoreServer() {
    chiudi();
}

QString CursoreServer::nome() const {
    return server::uriPerMessaggi(m_pos.uri) + QLatin1Char('\\') + m_pos.file;
}

std::unique_ptr<CursoreMotore> MotoreServer::cursore(CursoreMotore::Origine origine) const {
    return std::make_unique<CursoreServer>(*server::posizione(m_testo), std::move(origine));
}

QString CursoreServer::oggetto() const {
    return m_pos.file + QStringLiteral(", ") +
           (m_origine.analizzata ? m_origine.tabella : m_origine.testo);
}

void CursoreServer::fallisci(const QSqlError& e) {
    const ErroreQvr tradotto =
        m_conn ? m_conn->errore(e, m_pos.schema, oggetto()) : ErroreQvr(Err::ErroreArchivio);
    fallisci(tradotto);
}

void CursoreServer::fallisci(const ErroreQvr& e) {
    chiudi();
    throw e;
}

void CursoreServer::chiudi() noexcept {
    if (m_conn && inTransazione)
        (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
    inTransazione = false;
    m_conn.reset(); // back to the pool
}

// The first row of the table (or the row of the key read before), into `record`.
std::optional<QSqlError> CursoreServer::leggi(bool perAggiornamento, bool perChiave,
                                              bool senzaChiave) {
    QString sql =
        QStringLiteral("SELECT * FROM ") + server::tabella(m_pos.schema, m_origine.tabella);
    if (perChiave)
        sql += QStringLiteral(" WHERE ") + server::identificatore(ColonnaChiave) +
               QStringLiteral(" = ") + QString::number(m_chiave);
    else if (!m_origine.condizione.isEmpty())
        sql += QStringLiteral(" WHERE ") + server::traduciSql(m_origine.condizione);
    if (!senzaChiave)
        sql += QStringLiteral(" ORDER BY ") + server::identificatore(ColonnaChiave);
    sql += QStringLiteral(" LIMIT 1");
    if (perAggiornamento)
        sql += QStringLiteral(" FOR UPDATE");
    QSqlQuery q(m_conn->db());
    q.setForwardOnly(true);
    if (const auto e = m_conn->esegui(q, sql))
        return e;
    haRiga = q.next();
    if (!haRiga && q.lastError().isValid())
        return q.lastError();
    QSqlRecord letto = q.record();
    const int i = letto.indexOf(ColonnaChiave);
    modificabile = i >= 0;
    if (i >= 0) {
        if (haRiga)
            m_chiave = letto.value(i).toLongLong();
        letto.remove(i);
    }
    record = letto;
    return std::nullopt;
}

// Reads the row to be changed inside a new transaction, waiting while another station holds
// it; a transaction the server aborts (deadlock, serialization) is begun again.
void CursoreServer::leggiBloccando(bool perChiave) {
    QElapsedTimer tempo;
    bool inAttesa = false;
    const auto fineAttesa = [&] {
        if (!inAttesa)
            return;
        registraAttesa(tempo.elapsed());
        notificaAttesa(Cursore::FaseAttesa::Fine);
        inAttesa = false;
    };
    for (;;) {
        if (const auto e = m_conn->esegui(QStringLiteral("BEGIN"))) {
            fineAttesa();
            fallisci(*e);
        }
        inTransazione = true;
        const auto e = leggi(true, perChiave, false);
        if (!e)
            break;
        if (!server::rigaBloccata(*e) && !server::daRitentare(*e)) {
            fineAttesa();
            fallisci(*e);
        }
        (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
        inTransazione = false;
        if (!inAttesa) {
            tempo.start();
            inAttesa = true;
            notificaAttesa(Cursore::FaseAttesa::Inizio);
        }
        if (tempo.elapsed() >= Cursore::timeoutOccupato()) {
            fineAttesa();
            fallisci(ErroreQvr(Err::RecordBloccato, oggetto(), e->databaseText()));
        }
        notificaAttesa(Cursore::FaseAttesa::Continua);
    }
    fineAttesa();
    if (perChiave && !haRiga)
        fallisci(ErroreQvr(Err::NessunRecordCorrente,
                           oggetto() + QStringLiteral(": la riga non c'è più")));
}

// A source of another form: run as it stands, in the file's schema, read only.
void CursoreServer::leggiTesto() {
    modificabile = false;
    if (const auto e = m_conn->esegui(QStringLiteral("BEGIN READ ONLY")))
        fallisci(*e);
    inTransazione = true;
    if (const auto e = m_conn->esegui(QStringLiteral("SET LOCAL search_path TO ") +
                                      server::identificatore(m_pos.schema)))
        fallisci(*e);
    {
        QSqlQuery q(m_conn->db());
        q.setForwardOnly(true);
        if (const auto e = m_conn->esegui(q, server::traduciSql(m_origine.testo)))
            fallisci(*e);
        haRiga = q.next();
        if (!haRiga && q.lastError().isValid())
            fallisci(q.lastError());
        record = q.record();
    }
    if (const auto e = m_conn->esegui(QStringLiteral("COMMIT")))
        fallisci(*e);
    inTransazione = false;
}

void CursoreServer::apri(bool perModifica) {
    chiudi();
    haRiga = false;
    record = QSqlRecord();
    if (m_pos.schema.isEmpty() || m_pos.file.compare(nomi::FileContatore, Qt::CaseInsensitive) == 0)
        throw ErroreQvr(Err::DatabaseNonTrovato,
                        server::uriPerMessaggi(m_pos.uri) + QStringLiteral(", ") + m_pos.file);
    m_conn = std::make_unique<server::Connessione>(m_pos.uri);
    if (!m_origine.analizzata) {
        leggiTesto();
        return;
    }
    if (perModifica) {
        leggiBloccando(false);
        return;
    }
    if (const auto e = leggi(false, false, false)) {
        if (server::statoSql(*e) != QLatin1String("42703"))
            fallisci(*e);
        // A table without the key column: readable, but the cursor cannot rewrite its row.
        // When the read without the key fails too, a field of the condition is missing.
        if (const auto f = leggi(false, false, true))
            fallisci(*f);
        modificabile = false;
    }
}

void CursoreServer::modifica() {
    if (!inTransazione)
        leggiBloccando(true); // someone may have changed the row since it was read
}

void CursoreServer::salva(const Assegnati& assegnati) {
    for (int tentativo = 1;; ++tentativo) {
        std::optional<QSqlError> e;
        if (!assegnati.isEmpty()) {
            QStringList insiemi;
            QVariantList valori;
            for (const auto& [nome, valore] : assegnati) {
                insiemi << server::identificatore(nome) + QStringLiteral(" = ?");
                valori << valore;
            }
            const QString sql =
                QStringLiteral("UPDATE %1 SET %2 WHERE %3 = %4")
                    .arg(server::tabella(m_pos.schema, m_origine.tabella),
                         insiemi.join(QStringLiteral(", ")), server::identificatore(ColonnaChiave))
                    .arg(m_chiave);
            QSqlQuery q(m_conn->db());
            e = m_conn->esegui(q, sql, valori);
            if (!e && q.numRowsAffected() != 1)
                fallisci(ErroreQvr(Err::NessunRecordCorrente,
                                   oggetto() + QStringLiteral(": la riga non c'è più")));
        }
        if (!e)
            e = m_conn->esegui(QStringLiteral("COMMIT"));
        if (!e) {
            inTransazione = false;
            return;
        }
        if (!server::daRitentare(*e) || tentativo >= server::TentativiTransazione)
            fallisci(*e);
        // Aborted by the server: the same values, on the row as it is now.
        (void)m_conn->esegui(QStringLiteral("ROLLBACK"));
        inTransazione = false;
        leggiBloccando(true);
    }
}

} // namespace qvr
