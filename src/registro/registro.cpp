#include "registro/registro.h"

#include "registro/codice_biglietto.h"

#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace qvr::registro {

namespace {

constexpr std::array<std::pair<Tipo, const char*>, 12> NomiTipi{{
    {Tipo::Biglietto, "biglietto"},
    {Tipo::Chiamata, "chiamata"},
    {Tipo::Attesa, "attesa"},
    {Tipo::Assente, "assente"},
    {Tipo::Azzeramento, "azzeramento"},
    {Tipo::Avvio, "avvio"},
    {Tipo::Arresto, "arresto"},
    {Tipo::InizioBuco, "inizio-buco"},
    {Tipo::FineBuco, "fine-buco"},
    {Tipo::Passaggio, "passaggio"},
    {Tipo::Danneggiato, "danneggiato"},
    {Tipo::Perdita, "perdita"},
}};

// The layout, one step per version: step i brings a file from version i to version i + 1.
// A new version adds its step at the end and never changes an earlier one.
const char* const Migrazioni[] = {
    // 0 -> 1
    "CREATE TABLE Eventi ("
    " Seq INTEGER PRIMARY KEY,"
    " OraUtcMs INTEGER NOT NULL,"
    " Scostamento INTEGER NOT NULL,"
    " Ora TEXT NOT NULL,"
    " Tipo TEXT NOT NULL,"
    " Sequenza INTEGER NOT NULL DEFAULT 0,"
    " Postazione INTEGER NOT NULL DEFAULT 0,"
    " Numero INTEGER NOT NULL DEFAULT 0,"
    " Singola INTEGER NOT NULL DEFAULT 0,"
    " Richiamo INTEGER NOT NULL DEFAULT 0,"
    " Dettaglio TEXT NOT NULL DEFAULT '',"
    " Registratore TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX EventiOra ON Eventi (OraUtcMs);"
    "CREATE TABLE Stato (Chiave TEXT PRIMARY KEY, Valore TEXT NOT NULL);",
    // 1 -> 2: each ticket's code (the events of version 1 keep an empty one)
    "ALTER TABLE Eventi ADD COLUMN Codice TEXT NOT NULL DEFAULT '';",
};
static_assert(std::size(Migrazioni) == VersioneSchema);

const char* const ChiaveStato = "osservatore";
// The key of the tickets' codes, in the same table.
const char* const ChiaveCodici = "biglietti";

// Closes a statement whatever happens.
class Istruzione {
public:
    Istruzione(sqlite3* db, const char* sql) {
        m_codice = sqlite3_prepare_v2(db, sql, -1, &m_st, nullptr);
    }
    ~Istruzione() { sqlite3_finalize(m_st); }
    Istruzione(const Istruzione&) = delete;
    Istruzione& operator=(const Istruzione&) = delete;
    int codice() const { return m_codice; }
    sqlite3_stmt* operator*() const { return m_st; }

private:
    sqlite3_stmt* m_st = nullptr;
    int m_codice;
};

QString testoColonna(sqlite3_stmt* st, int i) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    const int n = sqlite3_column_bytes(st, i);
    return t ? QString::fromUtf8(t, n) : QString();
}

} // namespace

QString nomeTipo(Tipo t) {
    for (const auto& [tipo, nome] : NomiTipi)
        if (tipo == t)
            return QString::fromLatin1(nome);
    return {};
}

std::optional<Tipo> tipoDaNome(const QString& nome) {
    for (const auto& [tipo, testo] : NomiTipi)
        if (nome == QLatin1String(testo))
            return tipo;
    return std::nullopt;
}

QDateTime Evento::ora() const {
    return QDateTime::fromMSecsSinceEpoch(oraUtcMs, QTimeZone(scostamento));
}

QDate Evento::data() const {
    return ora().date();
}

Evento evento(Tipo t, const QDateTime& ora) {
    Evento e;
    e.tipo = t;
    e.oraUtcMs = ora.toMSecsSinceEpoch();
    e.scostamento = ora.offsetFromUtc();
    return e;
}

int numeroDaCodice(int codice) {
    switch (codice & 0xff) {
    case SQLITE_CORRUPT:
        return Err::DatabaseDanneggiato;
    case SQLITE_NOTADB:
        return Err::FormatoNonRiconosciuto;
    case SQLITE_FULL:
        return Err::DiscoPieno;
    case SQLITE_READONLY:
        return Err::SolaLettura;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Err::AccessoNegato;
    case SQLITE_CANTOPEN:
        return Err::DatabaseNonTrovato;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Err::RecordBloccato;
    case SQLITE_IOERR:
        return Err::ErroreDiscoRete;
    default:
        return Err::ErroreArchivio;
    }
}

bool ErroreRegistro::danneggiato() const {
    const int c = m_codice & 0xff;
    return c == SQLITE_CORRUPT || c == SQLITE_NOTADB;
}

Registro::Registro(QString file) : m_file(std::move(file)) {}

Registro::~Registro() {
    chiudi();
}

void Registro::chiudi() {
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_versione = 0;
    m_chiave.clear();
}

void Registro::fallisci(int codice, const QString& cosa) {
    QString testo =
        m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(codice));
    int numero = numeroDaCodice(codice);
    // A folder that is not there is told apart from a file that is not there.
    if (numero == Err::DatabaseNonTrovato && !QFileInfo(QFileInfo(m_file).absolutePath()).isDir())
        numero = Err::PercorsoNonValido;
    throw ErroreRegistro(
        numero, m_file + QStringLiteral(", ") + cosa + QStringLiteral(": ") + testo, codice);
}

void Registro::esegui(const char* sql) {
    char* messaggio = nullptr;
    const int c = sqlite3_exec(m_db, sql, nullptr, nullptr, &messaggio);
    sqlite3_free(messaggio);
    if (c != SQLITE_OK)
        fallisci(c, QString::fromUtf8(sql).left(40));
}

void Registro::apri(bool scrittura) {
    chiudi();
    if (!scrittura && !QFileInfo::exists(m_file)) {
        const bool cartella = QFileInfo(QFileInfo(m_file).absolutePath()).isDir();
        throw ErroreRegistro(cartella ? Err::DatabaseNonTrovato : Err::PercorsoNonValido, m_file,
                             SQLITE_CANTOPEN);
    }
    const QByteArray nome = QFile::encodeName(m_file);
    // One connection per object, used by one thread: no engine mutex needed.
    const int flag =
        (scrittura ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) : SQLITE_OPEN_READONLY) |
        SQLITE_OPEN_NOMUTEX;
    const int c = sqlite3_open_v2(nome.constData(), &m_db, flag, nullptr);
    if (c != SQLITE_OK) {
        const QString testo = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(c));
        chiudi();
        int numero = numeroDaCodice(c);
        if (numero == Err::DatabaseNonTrovato &&
            !QFileInfo(QFileInfo(m_file).absolutePath()).isDir())
            numero = Err::PercorsoNonValido;
        throw ErroreRegistro(numero, m_file + QStringLiteral(": ") + testo, c);
    }
    sqlite3_extended_result_codes(m_db, 0);
    sqlite3_busy_timeout(m_db, 2000);
    try {
        if (scrittura) {
            // The rollback journal, always; a file someone switched to WAL is switched back.
            {
                Istruzione modo(m_db, "PRAGMA journal_mode=DELETE");
                if (modo.codice() != SQLITE_OK)
                    fallisci(modo.codice(), QStringLiteral("journal_mode"));
                const int passo = sqlite3_step(*modo);
                if (passo != SQLITE_ROW && passo != SQLITE_DONE)
                    fallisci(passo, QStringLiteral("journal_mode"));
            }
            migra();
            m_versione = VersioneSchema;
            preparaChiave();
        } else {
            // Reading the layout version reads the header: a damaged file fails here.
            const int v = versione();
            if (v > VersioneSchema)
                throw ErroreRegistro(Err::FormatoNonRiconosciuto,
                                     m_file + QStringLiteral(": versione %1 del registro, più "
                                                             "recente di questo programma (%2)")
                                                  .arg(v)
                                                  .arg(VersioneSchema),
                                     SQLITE_ERROR);
            // An older layout is read as it is: only a writer migrates it.
            if (v < 1)
                throw ErroreRegistro(Err::TabellaNonTrovata,
                                     m_file + QStringLiteral(": registro vuoto"), SQLITE_ERROR);
            m_versione = v;
        }
    } catch (...) {
        chiudi();
        throw;
    }
}

void Registro::apriScrittura() {
    apri(true);
}

void Registro::apriLettura() {
    apri(false);
}

int Registro::versione() {
    Istruzione st(m_db, "PRAGMA user_version");
    if (st.codice() != SQLITE_OK)
        fallisci(st.codice(), QStringLiteral("user_version"));
    const int c = sqlite3_step(*st);
    if (c != SQLITE_ROW)
        fallisci(c, QStringLiteral("user_version"));
    return sqlite3_column_int(*st, 0);
}

void Registro::migra() {
    const int v = versione();
    if (v == VersioneSchema)
        return;
    if (v > VersioneSchema)
        throw ErroreRegistro(Err::FormatoNonRiconosciuto,
                             m_file + QStringLiteral(": versione %1 del registro, più recente di "
                                                     "questo programma (%2)")
                                          .arg(v)
                                          .arg(VersioneSchema),
                             SQLITE_ERROR);
    esegui("BEGIN IMMEDIATE");
    try {
        // Read again under the write lock: another program may have migrated meanwhile.
        for (int i = versione(); i < VersioneSchema; ++i) {
            esegui(Migrazioni[i]);
            esegui(QByteArray("PRAGMA user_version=" + QByteArray::number(i + 1)).constData());
        }
        esegui("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Registro::preparaChiave() {
    {
        Istruzione st(m_db, "INSERT OR IGNORE INTO Stato (Chiave, Valore) VALUES (?, ?)");
        if (st.codice() != SQLITE_OK)
            fallisci(st.codice(), QStringLiteral("Stato"));
        const QByteArray nuova = nuovaChiave();
        sqlite3_bind_text(*st, 1, ChiaveCodici, -1, SQLITE_STATIC);
        sqlite3_bind_text(*st, 2, nuova.constData(), int(nuova.size()), SQLITE_TRANSIENT);
        const int c = sqlite3_step(*st);
        if (c != SQLITE_DONE)
            fallisci(c, QStringLiteral("Stato"));
    }
    m_chiave = chiaveBiglietti();
}

QByteArray Registro::chiaveBiglietti() {
    if (!m_chiave.isEmpty())
        return m_chiave;
    Istruzione st(m_db, "SELECT Valore FROM Stato WHERE Chiave = ?");
    if (st.codice() != SQLITE_OK)
        fallisci(st.codice(), QStringLiteral("Stato"));
    sqlite3_bind_text(*st, 1, ChiaveCodici, -1, SQLITE_STATIC);
    const int c = sqlite3_step(*st);
    if (c == SQLITE_ROW)
        return testoColonna(*st, 0).toLatin1();
    if (c != SQLITE_DONE)
        fallisci(c, QStringLiteral("Stato"));
    return {};
}

void Registro::aggiungi(std::vector<Evento>& eventi, const std::optional<QString>& stato) {
    if (!m_db)
        apriScrittura();
    if (eventi.empty() && !stato)
        return;
    for (Evento& e : eventi)
        if (e.tipo == Tipo::Biglietto && e.codice.isEmpty())
            e.codice = codiceBiglietto(m_chiave, e.data(), e.sequenza, e.numero);
    esegui("BEGIN IMMEDIATE");
    try {
        {
            Istruzione ins(m_db, "INSERT INTO Eventi (OraUtcMs, Scostamento, Ora, Tipo, Sequenza, "
                                 "Postazione, Numero, Singola, Richiamo, Dettaglio, Registratore, "
                                 "Codice) VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
            if (ins.codice() != SQLITE_OK)
                fallisci(ins.codice(), QStringLiteral("Eventi"));
            for (Evento& e : eventi) {
                const QByteArray ora = e.ora().toString(Qt::ISODateWithMs).toUtf8();
                const QByteArray tipo = nomeTipo(e.tipo).toUtf8();
                const QByteArray dettaglio = e.dettaglio.toUtf8();
                const QByteArray registratore = e.registratore.toUtf8();
                const QByteArray codice = e.codice.toLatin1();
                sqlite3_bind_int64(*ins, 1, e.oraUtcMs);
                sqlite3_bind_int(*ins, 2, e.scostamento);
                sqlite3_bind_text(*ins, 3, ora.constData(), int(ora.size()), SQLITE_TRANSIENT);
                sqlite3_bind_text(*ins, 4, tipo.constData(), int(tipo.size()), SQLITE_TRANSIENT);
                sqlite3_bind_int(*ins, 5, e.sequenza);
                sqlite3_bind_int(*ins, 6, e.postazione);
                sqlite3_bind_int(*ins, 7, e.numero);
                sqlite3_bind_int(*ins, 8, e.singola ? 1 : 0);
                sqlite3_bind_int(*ins, 9, e.richiamo ? 1 : 0);
                sqlite3_bind_text(*ins, 10, dettaglio.constData(), int(dettaglio.size()),
                                  SQLITE_TRANSIENT);
                sqlite3_bind_text(*ins, 11, registratore.constData(), int(registratore.size()),
                                  SQLITE_TRANSIENT);
                sqlite3_bind_text(*ins, 12, codice.constData(), int(codice.size()),
                                  SQLITE_TRANSIENT);
                const int c = sqlite3_step(*ins);
                if (c != SQLITE_DONE)
                    fallisci(c, QStringLiteral("Eventi"));
                e.seq = sqlite3_last_insert_rowid(m_db);
                sqlite3_reset(*ins);
            }
        }
        if (stato) {
            Istruzione st(m_db, "INSERT OR REPLACE INTO Stato (Chiave, Valore) VALUES (?, ?)");
            if (st.codice() != SQLITE_OK)
                fallisci(st.codice(), QStringLiteral("Stato"));
            const QByteArray valore = stato->toUtf8();
            sqlite3_bind_text(*st, 1, ChiaveStato, -1, SQLITE_STATIC);
            sqlite3_bind_text(*st, 2, valore.constData(), int(valore.size()), SQLITE_TRANSIENT);
            const int c = sqlite3_step(*st);
            if (c != SQLITE_DONE)
                fallisci(c, QStringLiteral("Stato"));
        }
        esegui("COMMIT");
    } catch (...) {
        if (m_db)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        for (Evento& e : eventi)
            e.seq = 0;
        throw;
    }
}

QString Registro::stato() {
    Istruzione st(m_db, "SELECT Valore FROM Stato WHERE Chiave = ?");
    if (st.codice() != SQLITE_OK)
        fallisci(st.codice(), QStringLiteral("Stato"));
    sqlite3_bind_text(*st, 1, ChiaveStato, -1, SQLITE_STATIC);
    const int c = sqlite3_step(*st);
    if (c == SQLITE_ROW)
        return testoColonna(*st, 0);
    if (c != SQLITE_DONE)
        fallisci(c, QStringLiteral("Stato"));
    return {};
}

namespace {
const char* const ColonneEvento = "Seq, OraUtcMs, Scostamento, Tipo, Sequenza, Postazione, "
                                  "Numero, Singola, Richiamo, Dettaglio, Registratore";

// The kind of a row, compared on its bytes (a year's journal has a million rows).
std::optional<Tipo> tipoDellaRiga(sqlite3_stmt* st) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
    if (!t)
        return std::nullopt;
    for (const auto& [tipo, nome] : NomiTipi)
        if (std::strcmp(t, nome) == 0)
            return tipo;
    return std::nullopt;
}

bool eventoUfficio(Tipo t) {
    return t == Tipo::Biglietto || t == Tipo::Chiamata || t == Tipo::Attesa || t == Tipo::Assente ||
           t == Tipo::Azzeramento;
}

// A row as an event; nothing for a kind this version does not know (written by a later one),
// which readers skip rather than stop at. `leggero` leaves out the texts of the office's events.
std::optional<Evento> eventoDaRiga(sqlite3_stmt* st, bool leggero = false) {
    const std::optional<Tipo> tipo = tipoDellaRiga(st);
    if (!tipo)
        return std::nullopt;
    Evento e;
    e.tipo = *tipo;
    e.seq = sqlite3_column_int64(st, 0);
    e.oraUtcMs = sqlite3_column_int64(st, 1);
    e.scostamento = sqlite3_column_int(st, 2);
    e.sequenza = sqlite3_column_int(st, 4);
    e.postazione = sqlite3_column_int(st, 5);
    e.numero = sqlite3_column_int(st, 6);
    e.singola = sqlite3_column_int(st, 7) != 0;
    e.richiamo = sqlite3_column_int(st, 8) != 0;
    if (!leggero || !eventoUfficio(e.tipo)) {
        e.dettaglio = testoColonna(st, 9);
        e.registratore = testoColonna(st, 10);
    }
    if (e.tipo == Tipo::Biglietto)
        e.codice = testoColonna(st, 11);
    return e;
}
} // namespace

QByteArray Registro::colonne() const {
    // A journal of version 1, read as it is, has no codes.
    return QByteArray(ColonneEvento) + (m_versione >= 2 ? ", Codice" : ", ''");
}

std::optional<Evento> Registro::ultimo() {
    const QByteArray sql = "SELECT " + colonne() + " FROM Eventi ORDER BY Seq DESC LIMIT 1";
    Istruzione st(m_db, sql.constData());
    if (st.codice() != SQLITE_OK)
        fallisci(st.codice(), QStringLiteral("Eventi"));
    const int c = sqlite3_step(*st);
    if (c == SQLITE_ROW) {
        if (auto e = eventoDaRiga(*st))
            return e;
        Evento ignoto; // a kind of a later version: at least not a stop
        ignoto.tipo = Tipo::Passaggio;
        ignoto.seq = sqlite3_column_int64(*st, 0);
        ignoto.registratore = testoColonna(*st, 10);
        return ignoto;
    }
    if (c != SQLITE_DONE)
        fallisci(c, QStringLiteral("Eventi"));
    return std::nullopt;
}

void Registro::leggiCon(qint64 dal, qint64 al, bool leggero, void (*f)(void*, const Evento&),
                        void* dati) {
    // The events of the time range lie between the first and the last sequence number among
    // them (found through the time index): those rows are then read in key order, with no sort
    // of the whole range (the sort of a year's rows took seconds).
    qint64 primo = 0, ultimo = -1;
    {
        Istruzione st(m_db, "SELECT min(Seq), max(Seq) FROM Eventi WHERE OraUtcMs >= ? AND "
                            "OraUtcMs < ?");
        if (st.codice() != SQLITE_OK)
            fallisci(st.codice(), QStringLiteral("Eventi"));
        sqlite3_bind_int64(*st, 1, dal);
        sqlite3_bind_int64(*st, 2, al);
        const int c = sqlite3_step(*st);
        if (c != SQLITE_ROW)
            fallisci(c, QStringLiteral("Eventi"));
        if (sqlite3_column_type(*st, 0) == SQLITE_NULL)
            return;
        primo = sqlite3_column_int64(*st, 0);
        ultimo = sqlite3_column_int64(*st, 1);
    }
    const QByteArray sql = "SELECT " + colonne() +
                           " FROM Eventi WHERE Seq BETWEEN ? AND ? AND +OraUtcMs >= ? AND "
                           "+OraUtcMs < ? ORDER BY Seq";
    Istruzione st(m_db, sql.constData());
    if (st.codice() != SQLITE_OK)
        fallisci(st.codice(), QStringLiteral("Eventi"));
    sqlite3_bind_int64(*st, 1, primo);
    sqlite3_bind_int64(*st, 2, ultimo);
    sqlite3_bind_int64(*st, 3, dal);
    sqlite3_bind_int64(*st, 4, al);
    int c;
    while ((c = sqlite3_step(*st)) == SQLITE_ROW)
        if (const auto e = eventoDaRiga(*st, leggero))
            f(dati, *e);
    if (c != SQLITE_DONE)
        fallisci(c, QStringLiteral("Eventi"));
}

std::vector<Evento> Deposito::tutti() {
    std::vector<Evento> v;
    leggi(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
          [&](const Evento& e) { v.push_back(e); });
    return v;
}

qint64 Registro::copia(const QString& da, const QString& a) {
    Registro sorgente(da);
    sorgente.apriLettura();
    Registro destinazione(a);
    destinazione.apri(true);
    sqlite3_backup* b = sqlite3_backup_init(destinazione.m_db, "main", sorgente.m_db, "main");
    if (!b)
        destinazione.fallisci(sqlite3_errcode(destinazione.m_db), QStringLiteral("copia"));
    int c;
    while ((c = sqlite3_backup_step(b, -1)) == SQLITE_BUSY || c == SQLITE_LOCKED)
        sqlite3_sleep(20);
    const int fine = sqlite3_backup_finish(b);
    if (c != SQLITE_DONE)
        destinazione.fallisci(c, QStringLiteral("copia"));
    if (fine != SQLITE_OK)
        destinazione.fallisci(fine, QStringLiteral("copia"));
    auto conta = [](Registro& r) {
        Istruzione st(r.m_db, "SELECT count(*), coalesce(max(Seq), 0) FROM Eventi");
        if (st.codice() != SQLITE_OK || sqlite3_step(*st) != SQLITE_ROW)
            r.fallisci(sqlite3_errcode(r.m_db), QStringLiteral("Eventi"));
        return std::pair{sqlite3_column_int64(*st, 0), sqlite3_column_int64(*st, 1)};
    };
    const auto [n, ultimoA] = conta(destinazione);
    // The source may have grown meanwhile: the copy must hold its first n events exactly.
    Istruzione st(sorgente.m_db, "SELECT count(*) FROM Eventi WHERE Seq <= ?");
    sqlite3_bind_int64(*st, 1, ultimoA);
    if (st.codice() != SQLITE_OK || sqlite3_step(*st) != SQLITE_ROW)
        sorgente.fallisci(sqlite3_errcode(sorgente.m_db), QStringLiteral("Eventi"));
    if (sqlite3_column_int64(*st, 0) != n)
        throw ErroreRegistro(Err::ErroreArchivio,
                             a + QStringLiteral(": la copia del registro non corrisponde"),
                             SQLITE_ERROR);
    return n;
}

QString Registro::accantona(const QDateTime& ora) {
    chiudi();
    return mettiDaParte(m_file, ora);
}

QString Registro::mettiDaParte(const QString& file, const QDateTime& ora) {
    const QFileInfo info(file);
    const QString base = info.absolutePath() + QStringLiteral("/Registro-danneggiato-") +
                         ora.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString nuovo = base + QStringLiteral(".mdb");
    for (int i = 2; QFileInfo::exists(nuovo); ++i)
        nuovo = base + QStringLiteral("-%1.mdb").arg(i);
    // A hot journal belongs with its database: both move, so the copy can still be opened.
    if (::rename(QFile::encodeName(file).constData(), QFile::encodeName(nuovo).constData()) != 0)
        throw ErroreQvr(numeroDaErrno(errno), file + QStringLiteral(" -> ") + nuovo);
    const QString giornale = file + QStringLiteral("-journal");
    if (QFileInfo::exists(giornale))
        ::rename(QFile::encodeName(giornale).constData(),
                 QFile::encodeName(nuovo + QStringLiteral("-journal")).constData());
    return nuovo;
}

} // namespace qvr::registro
