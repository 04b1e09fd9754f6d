#include "archive/cursore.h"

#include "archive/cursore_server.h"

#include "archive/errori.h"
#include "archive/errori_sql.h"
#include "archive/motore.h"
#include "archive/percorsi_archivio.h"

#include <QAtomicInteger>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace qvr {

namespace {

std::atomic<int> g_timeoutOccupato{30000};
std::atomic<qint64> g_attesaMassima{0};
QAtomicInteger<quint64> g_contatoreConnessioni{0};

// How long the engine itself waits on a busy database before the cursor looks up again: short,
// so that the caller's waiting hook runs several times a second.
constexpr int PassoAttesa = 100;

std::function<void(Cursore::FaseAttesa)>& gancioAttesa() {
    static std::function<void(Cursore::FaseAttesa)> gancio;
    return gancio;
}

bool occupato(const QSqlError& e) {
    const int codice = codiceSqlite(e);
    return codice == 5 || codice == 6; // SQLITE_BUSY, SQLITE_LOCKED
}

// Runs one step of the engine, again and again while the database is busy, up to the busy
// timeout; the waiting hook hears of the wait (start, every pass, end). Returns the step's
// failure, if any (a busy one only once the timeout has passed).
template <typename F> std::optional<QSqlError> conAttesa(F&& passo) {
    std::optional<QSqlError> esito = passo();
    if (!esito || !occupato(*esito))
        return esito;
    QElapsedTimer tempo;
    tempo.start();
    const auto& gancio = gancioAttesa();
    if (gancio)
        gancio(Cursore::FaseAttesa::Inizio);
    while (esito && occupato(*esito) && tempo.elapsed() < Cursore::timeoutOccupato()) {
        if (gancio)
            gancio(Cursore::FaseAttesa::Continua);
        esito = passo();
    }
    // Each pass already waited PassoAttesa inside the engine.
    const qint64 atteso = tempo.elapsed() + PassoAttesa;
    qint64 massimo = g_attesaMassima.load();
    while (atteso > massimo && !g_attesaMassima.compare_exchange_weak(massimo, atteso)) {
    }
    if (gancio)
        gancio(Cursore::FaseAttesa::Fine);
    return esito;
}

// The rowid of the row read travels in a column of its own, invisible to the callers.
const QString ColonnaRowid = QStringLiteral("__qvr_rowid__");

QString virgolette(const QString& nome) {
    QString n = nome;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString senzaParentesi(const QString& nome) {
    if (nome.size() >= 2 && nome.startsWith(QLatin1Char('[')) && nome.endsWith(QLatin1Char(']')))
        return nome.mid(1, nome.size() - 2);
    return nome;
}

// The native path of a database as an SQLite URI that opens an existing file for reading and
// writing and never creates one.
QString uriDatabase(const QString& nativo) {
    const QByteArray codificato = QUrl::toPercentEncoding(nativo, "/");
    QString uri = QStringLiteral("file:");
    if (nativo.startsWith(QLatin1Char('/')))
        uri += QStringLiteral("//"); // empty authority: the path keeps any leading "//"
    uri += QString::fromLatin1(codificato);
    uri += QStringLiteral("?mode=rw");
    return uri;
}

// The source split into table and condition, when it is one of the forms the cursor can edit.
struct OrigineAnalizzata {
    QString tabella;
    QString condizione; // without "where"; empty when none
};

std::optional<OrigineAnalizzata> analizzaOrigine(const QString& origine) {
    static const QRegularExpression nomeNudo(
        QStringLiteral(R"(^\s*(\[[^\]]+\]|[A-Za-z_][A-Za-z0-9_]*)\s*;?\s*$)"));
    static const QRegularExpression selezione(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+(\[[^\]]+\]|[A-Za-z_][A-Za-z0-9_]*))"
                       R"((?:\s+where\s+(.*?))?\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    QRegularExpressionMatch m = nomeNudo.match(origine);
    if (m.hasMatch())
        return OrigineAnalizzata{senzaParentesi(m.captured(1)), {}};
    m = selezione.match(origine);
    if (m.hasMatch())
        return OrigineAnalizzata{senzaParentesi(m.captured(1)), m.captured(2).trimmed()};
    return std::nullopt;
}

} // namespace

void notificaAttesa(Cursore::FaseAttesa fase) {
    if (const auto& gancio = gancioAttesa())
        gancio(fase);
}

void registraAttesa(qint64 millisecondi) {
    qint64 massimo = g_attesaMassima.load();
    while (millisecondi > massimo &&
           !g_attesaMassima.compare_exchange_weak(massimo, millisecondi)) {
    }
}

namespace {

// The cursor's work on a database file of a folder archive: the row read is identified by its
// rowid.
class CursoreCartella : public CursoreMotore {
public:
    CursoreCartella(QString nativo, Origine origine)
        : m_nativo(std::move(nativo)), m_origine(std::move(origine)) {}
    ~CursoreCartella() override { chiudi(); }
    CursoreCartella(const CursoreCartella&) = delete;
    CursoreCartella& operator=(const CursoreCartella&) = delete;

    QString nome() const override { return m_nativo; }
    bool aperto() const override { return !m_connessione.isEmpty(); }
    void apri(bool perModifica) override;
    void modifica() override;
    void salva(const Assegnati& assegnati) override;
    void chiudi() noexcept override;

private:
    QSqlDatabase db() const { return QSqlDatabase::database(m_connessione, false); }

    // Runs one statement; returns its failure, if any. With `attendi` a busy database is
    // waited for (conAttesa); without, the engine's short wait is all.
    std::optional<QSqlError> esegui(const QString& sql, bool attendi = true) {
        QSqlQuery q(db());
        auto passo = [&]() -> std::optional<QSqlError> {
            if (!q.exec(sql))
                return q.lastError();
            q.finish();
            return std::nullopt;
        };
        return attendi ? conAttesa(passo) : passo();
    }

    // Runs a query already prepared or to be run with `sql`, waiting while the database is busy.
    static std::optional<QSqlError> esegui(QSqlQuery& q, const QString& sql = {}) {
        return conAttesa([&]() -> std::optional<QSqlError> {
            if (!(sql.isEmpty() ? q.exec() : q.exec(sql)))
                return q.lastError();
            return std::nullopt;
        });
    }

    // The error number for a failure of the driver, with the file or object as detail and the
    // engine's own text apart.
    ErroreQvr errore(const QSqlError& e, const QString& oggetto) const {
        const QString testo = e.databaseText().isEmpty() ? e.text() : e.databaseText();
        const QString dettaglio =
            oggetto.isEmpty() ? m_nativo : m_nativo + QStringLiteral(", ") + oggetto;
        return ErroreQvr(numeroDaSql(e, m_nativo), dettaglio, testo);
    }

    // Rolls back, closes and throws: a failure never leaves a transaction or a half-written row.
    [[noreturn]] void fallisci(const ErroreQvr& e) {
        chiudi();
        throw e;
    }
    [[noreturn]] void fallisci(const QSqlError& e, const QString& oggetto) {
        const ErroreQvr tradotto = errore(e, oggetto);
        fallisci(tradotto);
    }

    void controllaFile() const;
    void apriConnessione();
    void leggiPrimaRiga();
    // The SELECT of the first row of the table, with the rowid or without it.
    QString selezionePrimaRiga(bool conRowid) const;
    void rileggiPerRowid();

    QString m_nativo; // the database file on this machine
    Origine m_origine;
    QString m_connessione; // name of the open connection; empty when closed
    qint64 m_rowid = 0;
};

// A file that is missing, a folder or an empty file are refused before the engine sees them
// (SQLite would take an empty file for an empty database: it is not an archive).
void CursoreCartella::controllaFile() const {
    const QFileInfo info(m_nativo);
    if (!info.exists()) {
        const QFileInfo cartella(info.absolutePath());
        if (!cartella.exists() || !cartella.isDir())
            throw ErroreQvr(Err::PercorsoNonValido, m_nativo);
        throw ErroreQvr(Err::DatabaseNonTrovato, m_nativo);
    }
    if (info.isDir() || info.size() == 0)
        throw ErroreQvr(Err::FormatoNonRiconosciuto, m_nativo);
}

void CursoreCartella::apriConnessione() {
    controllaFile();
    m_connessione = QStringLiteral("qvr-cursore-%1").arg(++g_contatoreConnessioni);
    bool aperta = false;
    QSqlError erroreApertura;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connessione);
        d.setDatabaseName(uriDatabase(m_nativo));
        d.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                                .arg(std::min(PassoAttesa, Cursore::timeoutOccupato())));
        aperta = d.open();
        if (!aperta)
            erroreApertura = d.lastError();
    }
    if (!aperta) {
        QSqlDatabase::removeDatabase(m_connessione);
        m_connessione.clear();
        // The file was there a moment ago: tell a vanished file from one we may not open.
        const QFileInfo dopo(m_nativo);
        if (!dopo.exists())
            throw ErroreQvr(Err::DatabaseNonTrovato, m_nativo);
        if (codiceSqlite(erroreApertura) == SqliteNonApribile)
            throw ErroreQvr(Err::AccessoNegato, m_nativo, erroreApertura.databaseText());
        throw errore(erroreApertura, {});
    }

    // The archive stays in rollback-journal mode: a file found in WAL mode is switched back.
    // This first statement is also where a file that is not a database shows itself.
    QString modo;
    {
        QSqlQuery q(db());
        if (const auto e = esegui(q, QStringLiteral("PRAGMA journal_mode")))
            fallisci(*e, {});
        if (q.next())
            modo = q.value(0).toString();
        q.finish();
    }
    if (modo.compare(QStringLiteral("wal"), Qt::CaseInsensitive) == 0) {
        // Needs every other connection gone; when one is still there the file keeps working
        // as it is and the next opener tries again.
        esegui(QStringLiteral("PRAGMA journal_mode=DELETE"), false);
    }
}

void CursoreCartella::apri(bool perModifica) {
    apriConnessione();
    if (perModifica) {
        if (const auto e = esegui(QStringLiteral("BEGIN IMMEDIATE")))
            fallisci(*e, m_origine.analizzata ? m_origine.tabella : m_origine.testo);
        inTransazione = true;
    }
    leggiPrimaRiga();
}

QString CursoreCartella::selezionePrimaRiga(bool conRowid) const {
    QString sql = conRowid ? QStringLiteral("SELECT rowid AS %1, * FROM %2")
                                 .arg(virgolette(ColonnaRowid), virgolette(m_origine.tabella))
                           : QStringLiteral("SELECT * FROM %1").arg(virgolette(m_origine.tabella));
    if (!m_origine.condizione.isEmpty())
        sql += QStringLiteral(" WHERE ") + m_origine.condizione;
    return sql + QStringLiteral(" LIMIT 1");
}

void CursoreCartella::leggiPrimaRiga() {
    modificabile = m_origine.analizzata;
    QString sql = modificabile ? selezionePrimaRiga(true) : m_origine.testo;
    const QString oggetto = m_origine.analizzata ? m_origine.tabella : m_origine.testo;

    QSqlRecord letto;
    bool riga = false;
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        std::optional<QSqlError> fallito = esegui(q, sql);
        if (fallito && modificabile &&
            fallito->databaseText().contains(QStringLiteral("no such column: rowid"),
                                             Qt::CaseInsensitive)) {
            // A table without rowid or a view: readable, but the cursor cannot rewrite its row.
            modificabile = false;
            fallito = esegui(q, selezionePrimaRiga(false));
        }
        if (fallito)
            fallisci(*fallito, oggetto);
        riga = q.next();
        if (!riga && q.lastError().isValid())
            fallisci(q.lastError(), oggetto);
        letto = q.record();
        q.finish();
    }
    haRiga = riga;
    m_rowid = 0;
    if (modificabile) {
        const int i = letto.indexOf(ColonnaRowid);
        if (riga && i >= 0)
            m_rowid = letto.value(i).toLongLong();
        if (i >= 0)
            letto.remove(i);
    }
    record = letto;
}

void CursoreCartella::rileggiPerRowid() {
    const QString sql =
        QStringLiteral("SELECT * FROM %1 WHERE rowid=?").arg(virgolette(m_origine.tabella));
    QSqlRecord letto;
    bool riga = false;
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fallisci(q.lastError(), m_origine.tabella);
        q.addBindValue(m_rowid);
        if (const auto e = esegui(q))
            fallisci(*e, m_origine.tabella);
        riga = q.next();
        if (!riga && q.lastError().isValid())
            fallisci(q.lastError(), m_origine.tabella);
        letto = q.record();
        q.finish();
    }
    if (!riga) {
        haRiga = false;
        fallisci(ErroreQvr(Err::NessunRecordCorrente, m_nativo + QStringLiteral(", ") +
                                                          m_origine.tabella +
                                                          QStringLiteral(": la riga non c'è più")));
    }
    record = letto;
}

void CursoreCartella::modifica() {
    if (inTransazione)
        return;
    if (const auto e = esegui(QStringLiteral("BEGIN IMMEDIATE")))
        fallisci(*e, m_origine.tabella);
    inTransazione = true;
    // Someone may have changed the row since it was read: edit what is there now.
    rileggiPerRowid();
}

void CursoreCartella::salva(const Assegnati& assegnati) {
    const QString& tabella = m_origine.tabella;
    if (!assegnati.isEmpty()) {
        QStringList insiemi;
        for (const auto& [n, val] : assegnati)
            insiemi << virgolette(n) + QStringLiteral("=?");
        const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
                                .arg(virgolette(tabella), insiemi.join(QLatin1Char(',')));
        int cambiate = -1;
        {
            QSqlQuery q(db());
            if (!q.prepare(sql))
                fallisci(q.lastError(), tabella);
            for (const auto& [n, val] : assegnati)
                q.addBindValue(val);
            q.addBindValue(m_rowid);
            if (const auto e = esegui(q))
                fallisci(*e, tabella);
            cambiate = q.numRowsAffected();
            q.finish();
        }
        if (cambiate != 1)
            fallisci(
                ErroreQvr(Err::NessunRecordCorrente, m_nativo + QStringLiteral(", ") + tabella +
                                                         QStringLiteral(": la riga non c'è più")));
    }
    if (const auto e = esegui(QStringLiteral("COMMIT")))
        fallisci(*e, tabella);
    inTransazione = false;
}

void CursoreCartella::chiudi() noexcept {
    if (m_connessione.isEmpty())
        return;
    if (inTransazione)
        esegui(QStringLiteral("ROLLBACK"), false);
    inTransazione = false;
    {
        QSqlDatabase d = db();
        d.close();
    }
    QSqlDatabase::removeDatabase(m_connessione);
    m_connessione.clear();
}

} // namespace

std::unique_ptr<CursoreMotore> MotoreCartella::cursore(CursoreMotore::Origine origine) const {
    return std::make_unique<CursoreCartella>(percorsoNativo(m_testo), std::move(origine));
}

// What the cursor keeps itself: the source and the edit in progress; the rest is its engine's.
struct Cursore::Dati {
    std::unique_ptr<CursoreMotore> motore; // since the last aggiorna(), until chiudi()
    QString percorsoNativo;                // the database as messages name it
    std::optional<OrigineAnalizzata> origine;
    bool inModifica = false;
    CursoreMotore::Assegnati assegnati;

    bool haRiga() const { return motore && motore->haRiga; }
    const QSqlRecord& record() const {
        static const QSqlRecord vuoto;
        return motore ? motore->record : vuoto;
    }

    void chiudiConnessione() {
        if (motore)
            motore->chiudi();
        inModifica = false;
        assegnati.clear();
    }

    // Closes and throws: a failure never leaves a transaction or a half-written row.
    [[noreturn]] void fallisci(const ErroreQvr& e) {
        chiudiConnessione();
        throw e;
    }
};

Cursore::Cursore() : d(std::make_unique<Dati>()) {}

Cursore::~Cursore() {
    try {
        chiudi();
    } catch (...) {
    }
}

void Cursore::impostaDatabase(const QString& percorsoTesto) {
    m_percorsoTesto = percorsoTesto;
}

void Cursore::impostaOrigine(const QString& origine) {
    m_origine = origine;
}

void Cursore::aggiorna(bool perModifica) {
    chiudi();
    d->percorsoNativo = percorsoNativo(m_percorsoTesto);
    d->origine = analizzaOrigine(m_origine);
    if (m_origine.trimmed().isEmpty())
        throw ErroreQvr(Err::TabellaNonTrovata,
                        d->percorsoNativo + QStringLiteral(": origine dei dati vuota"));
    CursoreMotore::Origine o;
    o.testo = m_origine;
    if (d->origine) {
        o.analizzata = true;
        o.tabella = d->origine->tabella;
        o.condizione = d->origine->condizione;
    }
    auto motore = MotoreArchivio::di(m_percorsoTesto)->cursore(std::move(o));
    d->percorsoNativo = motore->nome();
    motore->apri(perModifica);
    d->motore = std::move(motore);
    if (perModifica && !d->motore->modificabile)
        d->fallisci(
            ErroreQvr(Err::ErroreArchivio, d->percorsoNativo + QStringLiteral(": ") + m_origine +
                                               QStringLiteral(": origine non modificabile")));
}

bool Cursore::haRighe() const {
    return d->haRiga();
}

int Cursore::contaRighe() const {
    return d->haRiga() ? 1 : 0;
}

bool Cursore::haCampo(const QString& nome) const {
    return d->record().indexOf(nome) >= 0;
}

QVariant Cursore::campo(const QString& nome) const {
    if (!d->haRiga())
        throw ErroreQvr(Err::NessunRecordCorrente,
                        d->percorsoNativo + QStringLiteral(", ") + m_origine);
    const int i = d->record().indexOf(nome);
    if (i < 0)
        throw ErroreQvr(Err::CampoNonTrovato, m_origine + QStringLiteral(": ") + nome);
    return d->record().value(i);
}

QString Cursore::campoTesto(const QString& nome) const {
    return valori::comeTesto(campo(nome), nome);
}

qint32 Cursore::campoLong(const QString& nome) const {
    return valori::comeLong(campo(nome), nome);
}

bool Cursore::campoSiNo(const QString& nome) const {
    return valori::comeSiNo(campo(nome));
}

void Cursore::modifica() {
    if (!aperto())
        throw ErroreQvr(Err::ErroreArchivio,
                        m_origine + QStringLiteral(": modifica senza un archivio aperto"));
    if (!d->haRiga())
        throw ErroreQvr(Err::NessunRecordCorrente,
                        d->percorsoNativo + QStringLiteral(", ") + m_origine);
    if (!d->motore->modificabile)
        throw ErroreQvr(Err::ErroreArchivio, d->percorsoNativo + QStringLiteral(": ") + m_origine +
                                                 QStringLiteral(": origine non modificabile"));
    try {
        d->motore->modifica();
    } catch (const ErroreQvr& e) {
        d->fallisci(e);
    }
    d->inModifica = true;
    d->assegnati.clear();
}

void Cursore::assegna(const QString& nome, const QVariant& valore) {
    if (!d->inModifica)
        throw ErroreQvr(Err::ErroreArchivio,
                        m_origine + QStringLiteral(": assegnazione senza modifica in corso"));
    const int i = d->record().indexOf(nome);
    if (i < 0)
        throw ErroreQvr(Err::CampoNonTrovato, m_origine + QStringLiteral(": ") + nome);

    QVariant v;
    switch (valore.typeId()) {
    case QMetaType::UnknownType:
        v = QVariant(); // Null
        break;
    case QMetaType::Bool:
        v = valore.toBool() ? qint32(-1) : qint32(0);
        break;
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
        v = qint32(valore.toInt());
        break;
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong n = valore.toLongLong(&ok);
        if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
            throw ErroreQvr(Err::Overflow, m_origine + QStringLiteral(": ") + nome);
        v = qint32(n);
        break;
    }
    case QMetaType::Float:
    case QMetaType::Double: {
        const double x = valore.toDouble();
        if (!std::isfinite(x))
            throw ErroreQvr(Err::Overflow, m_origine + QStringLiteral(": ") + nome);
        v = x;
        break;
    }
    case QMetaType::QString:
        v = valore.toString();
        break;
    default:
        throw ErroreQvr(Err::TipoNonCorrispondente,
                        m_origine + QStringLiteral(": ") + nome + QStringLiteral(" (") +
                            QString::fromLatin1(valore.typeName()) + QStringLiteral(")"));
    }

    QSqlRecord& record = d->motore->record; // an edit in progress has its engine
    const QString nomeCampo = record.fieldName(i);
    bool trovato = false;
    for (auto& [n, val] : d->assegnati) {
        if (n == nomeCampo) {
            val = v;
            trovato = true;
        }
    }
    if (!trovato)
        d->assegnati.append({nomeCampo, v});
    record.setValue(i, v);
}

void Cursore::salva() {
    if (!d->inModifica)
        throw ErroreQvr(Err::ErroreArchivio,
                        m_origine + QStringLiteral(": salvataggio senza modifica in corso"));
    try {
        d->motore->salva(d->assegnati);
    } catch (const ErroreQvr& e) {
        d->fallisci(e); // nothing is left open or half-written
    }
    d->inModifica = false;
    d->assegnati.clear();
}

void Cursore::chiudi() {
    d->chiudiConnessione();
    d->motore.reset();
}

bool Cursore::aperto() const {
    return d->motore && d->motore->aperto();
}

void Cursore::impostaTimeoutOccupato(int millisecondi) {
    g_timeoutOccupato = millisecondi < 0 ? 0 : millisecondi;
}

int Cursore::timeoutOccupato() {
    return g_timeoutOccupato;
}

void Cursore::impostaAttesa(std::function<void(FaseAttesa)> gancio) {
    gancioAttesa() = std::move(gancio);
}

qint64 Cursore::attesaMassima() {
    return g_attesaMassima.load();
}

namespace valori {

namespace {

QString dettaglioCampo(const QString& nome, const QVariant& v) {
    if (nome.isEmpty())
        return v.toString();
    return nome + QStringLiteral(" = ") + v.toString();
}

bool eIntero(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool eVirgolaMobile(const QVariant& v) {
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

// A floating value to a Long, rounding half to even; nullopt beyond 32 bits.
std::optional<qint32> arrotondaLong(double x) {
    if (!std::isfinite(x))
        return std::nullopt;
    const double r = std::nearbyint(x); // the default rounding mode: half to even
    if (r < double(std::numeric_limits<qint32>::min()) ||
        r > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(r);
}

} // namespace

QString comeTesto(const QVariant& v, const QString& nome) {
    if (v.isNull() || !v.isValid())
        throw ErroreQvr(Err::UsoNonValidoNull, nome);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
    if (eIntero(v))
        return v.typeId() == QMetaType::ULongLong ? QString::number(v.toULongLong())
                                                  : QString::number(v.toLongLong());
    if (eVirgolaMobile(v)) {
        const double x = v.toDouble();
        if (std::isfinite(x) && x == std::trunc(x) && std::fabs(x) < 1e15)
            return QString::number(x, 'f', 0);
        return QString::number(x, 'g', 15);
    }
    return v.toString();
}

qint32 comeLong(const QVariant& v, const QString& nome) {
    if (v.isNull() || !v.isValid())
        throw ErroreQvr(Err::UsoNonValidoNull, nome);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? -1 : 0;
    if (eIntero(v)) {
        if (v.typeId() == QMetaType::ULongLong &&
            v.toULongLong() > quint64(std::numeric_limits<qint32>::max()))
            throw ErroreQvr(Err::Overflow, dettaglioCampo(nome, v));
        const qlonglong n = v.toLongLong();
        if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
            throw ErroreQvr(Err::Overflow, dettaglioCampo(nome, v));
        return qint32(n);
    }
    if (eVirgolaMobile(v)) {
        if (const auto n = arrotondaLong(v.toDouble()))
            return *n;
        throw ErroreQvr(Err::Overflow, dettaglioCampo(nome, v));
    }
    if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray) {
        static const QRegularExpression intero(QStringLiteral(R"(^[+-]?[0-9]+$)"));
        static const QRegularExpression decimale(
            QStringLiteral(R"(^[+-]?([0-9]+\.[0-9]*|\.[0-9]+)$)"));
        const QString t = v.toString().trimmed();
        if (intero.match(t).hasMatch()) {
            // Long digit strings: compare as a double first so nothing wraps.
            const QString cifre = t.startsWith(QLatin1Char('+')) ? t.mid(1) : t;
            bool ok = false;
            const qlonglong n = cifre.toLongLong(&ok);
            if (!ok || n < std::numeric_limits<qint32>::min() ||
                n > std::numeric_limits<qint32>::max())
                throw ErroreQvr(Err::Overflow, dettaglioCampo(nome, v));
            return qint32(n);
        }
        if (decimale.match(t).hasMatch()) {
            if (const auto n = arrotondaLong(t.toDouble()))
                return *n;
            throw ErroreQvr(Err::Overflow, dettaglioCampo(nome, v));
        }
    }
    throw ErroreQvr(Err::TipoNonCorrispondente, dettaglioCampo(nome, v));
}

bool comeSiNo(const QVariant& v) {
    if (v.isNull() || !v.isValid())
        return false;
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (eIntero(v))
        return v.toLongLong() != 0;
    if (eVirgolaMobile(v))
        return v.toDouble() != 0.0;
    const QString t = v.toString().trimmed();
    if (t.isEmpty())
        return false;
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0 ||
        t.compare(QStringLiteral("Vero"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0 ||
        t.compare(QStringLiteral("Falso"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double x = t.toDouble(&ok);
    if (ok)
        return x != 0.0;
    throw ErroreQvr(Err::TipoNonCorrispondente, v.toString());
}

} // namespace valori

} // namespace qvr
