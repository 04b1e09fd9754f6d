#include "archive/crea_archivio.h"

#include "archive/biglietti.h"
#include "archive/contatore.h"
#include "archive/errori.h"
#include "archive/errori_sql.h"
#include "archive/motore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

namespace qvr {

namespace {

// One SQL statement with its bound values (texts given by the caller are never pasted into SQL).
struct Istruzione {
    QString sql;
    QVariantList valori = {};
};

// The layout of the archive, for either engine: tables with their columns (typed as SQLite
// declares them) and their rows.
struct Colonna {
    QString nome;
    QString tipo; // "INTEGER", "NUMERIC", "TEXT" or "INTEGER PRIMARY KEY"
};

struct Tabella {
    QString nome;
    std::vector<Colonna> colonne;
    std::vector<QVariantList> righe;
};

struct Database {
    QString nome;
    std::vector<Tabella> tabelle;
};

// The error number for a failure of the engine while the archive is made or a ticket issued.
ErroreQvr erroreSql(const QSqlError& e, const QString& file) {
    return ErroreQvr(numeroDaSql(e), file + QStringLiteral(": ") + e.text());
}

// A plain connection of its own, removed when the object goes out of scope.
class Connessione {
public:
    Connessione(const QString& file, const QString& opzioni)
        : m_nome(QStringLiteral("crea-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_nome);
        db.setDatabaseName(file);
        db.setConnectOptions(opzioni);
    }
    ~Connessione() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_nome, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_nome);
    }
    Connessione(const Connessione&) = delete;
    Connessione& operator=(const Connessione&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_nome, false); }

private:
    QString m_nome;
};

// Brackets, never double quotes: SQLite takes a double-quoted name that matches no column as a
// text literal, so a missing field would read as its own name instead of failing.
QString quota(const QString& identificatore) {
    return QLatin1Char('[') + identificatore + QLatin1Char(']');
}

// QVR.mdb: configuration, the station slots and the users.
Database databaseQvr(const OpzioniArchivio& o) {
    const auto siNo = [](bool v) { return QVariant(v ? -1 : 0); };
    Database qvr{nomi::FileQVR, {}};
    qvr.tabelle.push_back({nomi::TabConfigurazione,
                           {{nomi::CampoNovantanoveSingle, QStringLiteral("INTEGER")},
                            {nomi::CampoNovantanoveStandard, QStringLiteral("INTEGER")}},
                           {{siNo(o.dopo99Singola), siNo(o.dopo99Standard)}}});
    Tabella postazioni{nomi::TabPostazioneUtente, {}, {{}}};
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        postazioni.colonne.push_back({nomi::campoPostoID(n), QStringLiteral("INTEGER")});
        postazioni.colonne.push_back({nomi::campoPostoSS(n), QStringLiteral("TEXT")});
        postazioni.righe[0] << QVariant(n) << QVariant(o.modi[n - 1]);
    }
    qvr.tabelle.push_back(std::move(postazioni));
    Tabella utenti{nomi::TabUtenti,
                   {{nomi::CampoId, QStringLiteral("INTEGER PRIMARY KEY")},
                    {nomi::CampoNominativo, QStringLiteral("TEXT")},
                    {nomi::CampoUtilizzaNelClient, QStringLiteral("INTEGER")},
                    {nomi::CampoUtilizzaOrarioComeNumero, QStringLiteral("INTEGER")}},
                   {}};
    const QStringList nomiUtenti = {
        QStringLiteral("Mario Rossi"),      QStringLiteral("Giulia Bianchi"),
        QStringLiteral("Luca Esposito"),    QStringLiteral("Francesca Romano"),
        QStringLiteral("Alessandro Ricci"), QStringLiteral("Chiara Marino"),
        QStringLiteral("Davide Greco"),     QStringLiteral("Sara Bruno"),
        QStringLiteral("Matteo Gallo"),     QStringLiteral("Elena Conti"),
        QStringLiteral("Nicolò D'Angelo"),
    };
    for (int i = 0; i < nomiUtenti.size(); ++i)
        utenti.righe.push_back({QVariant(i + 1), QVariant(nomiUtenti[i]), 0, 0});
    qvr.tabelle.push_back(std::move(utenti));
    return qvr;
}

// QVRA.mdb: one single-numbering record per station.
Database databaseQvra() {
    Database qvra{nomi::FileQVRA, {}};
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        qvra.tabelle.push_back({nomi::tabNumerazioneSingle(n),
                                {{nomi::CampoNUMERO, QStringLiteral("INTEGER")},
                                 {nomi::CampoStato, QStringLiteral("INTEGER")}},
                                {{0, nomi::StatoAssente}}});
    return qvra;
}

// QVRB.mdb: one display record per station, and the display front end's switch.
Database databaseQvrb() {
    Database qvrb{nomi::FileQVRB, {}};
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        qvrb.tabelle.push_back({nomi::tabNumeriCode(n),
                                {{nomi::CampoNumeroA1, QStringLiteral("NUMERIC")},
                                 {nomi::CampoStatoN1, QStringLiteral("INTEGER")},
                                 {nomi::CampoF1, QStringLiteral("TEXT")}},
                                {{0, nomi::StatoAssente, QStringLiteral("F")}}});
    qvrb.tabelle.push_back(
        {nomi::TabFE, {{nomi::CampoFEAcceso, QStringLiteral("INTEGER")}}, {{0}}});
    return qvrb;
}

// Totem.mdb: the kiosk's counters and its switch.
Database databaseTotem(const OpzioniArchivio& o) {
    Database totem{nomi::FileTotem, {}};
    Tabella numerazione{nomi::TabNumerazione, {}, {{}}};
    for (int n = 1; n <= nomi::NumeroSequenze; ++n) {
        numerazione.colonne.push_back({nomi::campoP(n), QStringLiteral("INTEGER")});
        numerazione.righe[0] << 0;
    }
    numerazione.colonne.push_back({nomi::CampoP11Q, QStringLiteral("NUMERIC")});
    numerazione.righe[0] << 0;
    totem.tabelle.push_back(std::move(numerazione));
    totem.tabelle.push_back({nomi::TabConfigurazione,
                             {{nomi::CampoRHDSN, QStringLiteral("TEXT")}},
                             {{QVariant(o.totem ? QStringLiteral("SI") : QStringLiteral("NO"))}}});
    return totem;
}

// Agenda.mdb: the appointment window's tables, each with one sample row.
Database databaseAgenda() {
    Database agenda{nomi::FileAgenda, {}};
    const QString intero = QStringLiteral("INTEGER");
    const QString testo = QStringLiteral("TEXT");
    const QString chiave = QStringLiteral("INTEGER PRIMARY KEY");
    agenda.tabelle.push_back({QStringLiteral("agendaapp"),
                              {{QStringLiteral("id"), chiave},
                               {QStringLiteral("IdUtente"), intero},
                               {QStringLiteral("Data"), testo},
                               {QStringLiteral("Ora"), testo},
                               {QStringLiteral("Nominativo"), testo},
                               {QStringLiteral("Note"), testo},
                               {QStringLiteral("Chiamato"), intero}},
                              {{1, 1, QStringLiteral("2024-01-08"), QStringLiteral("09:00"),
                                QStringLiteral("Paolo Ferri"), QString(""), 0}}});
    agenda.tabelle.push_back(
        {QStringLiteral("urgenze"),
         {{QStringLiteral("id"), chiave},
          {QStringLiteral("IdUtente"), intero},
          {QStringLiteral("Nominativo"), testo},
          {QStringLiteral("Motivo"), testo},
          {QStringLiteral("Chiamato"), intero}},
         {{1, 1, QStringLiteral("Anna Colombo"), QStringLiteral("Medicazione"), 0}}});
    agenda.tabelle.push_back(
        {QStringLiteral("informatori"),
         {{QStringLiteral("id"), chiave},
          {QStringLiteral("IdUtente"), intero},
          {QStringLiteral("Nominativo"), testo},
          {QStringLiteral("Ditta"), testo},
          {QStringLiteral("Data"), testo},
          {QStringLiteral("Chiamato"), intero}},
         {{1, 1, QStringLiteral("Roberto Fontana"), QStringLiteral("Farmaceutica Nord"),
           QStringLiteral("2024-01-08"), 0}}});
    return agenda;
}

std::vector<Database> descriviArchivio(const OpzioniArchivio& o) {
    std::vector<Database> archivio;
    archivio.push_back(databaseQvr(o));
    archivio.push_back(databaseQvra());
    archivio.push_back(databaseQvrb());
    archivio.push_back(databaseTotem(o));
    archivio.push_back(databaseAgenda());
    return archivio;
}

// The statements that make one database file in SQLite.
std::vector<Istruzione> istruzioniSqlite(const Database& d) {
    std::vector<Istruzione> istruzioni;
    for (const Tabella& t : d.tabelle) {
        QStringList colonne;
        QStringList segnaposto;
        for (const Colonna& c : t.colonne) {
            colonne << quota(c.nome) + QLatin1Char(' ') + c.tipo;
            segnaposto << QStringLiteral("?");
        }
        istruzioni.push_back(
            {QStringLiteral("CREATE TABLE %1 (%2)").arg(quota(t.nome), colonne.join(u", "))});
        for (const QVariantList& riga : t.righe)
            istruzioni.push_back({QStringLiteral("INSERT INTO %1 VALUES (%2)")
                                      .arg(quota(t.nome), segnaposto.join(u", ")),
                                  riga});
    }
    return istruzioni;
}

// The column type on the server for a type as SQLite declares it.
QString tipoServer(const QString& tipo) {
    if (tipo == QLatin1String("INTEGER PRIMARY KEY"))
        return QStringLiteral("bigint NOT NULL UNIQUE");
    if (tipo == QLatin1String("NUMERIC"))
        return QStringLiteral("double precision");
    if (tipo == QLatin1String("TEXT"))
        return QStringLiteral("text");
    return QStringLiteral("bigint");
}

// The statements that make the schema of one database file on the server; every table gets
// the ordering key first.
std::vector<Istruzione> istruzioniServer(const Database& d, const QString& schema) {
    std::vector<Istruzione> istruzioni;
    istruzioni.push_back({QStringLiteral("CREATE SCHEMA ") + server::identificatore(schema)});
    const QString chiave = server::identificatore(server::ColonnaChiave) +
                           QStringLiteral(" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY");
    for (const Tabella& t : d.tabelle) {
        QStringList colonne{chiave};
        QStringList nomiColonne;
        QStringList segnaposto;
        for (const Colonna& c : t.colonne) {
            colonne << server::identificatore(c.nome) + QLatin1Char(' ') + tipoServer(c.tipo);
            nomiColonne << server::identificatore(c.nome);
            segnaposto << QStringLiteral("?");
        }
        const QString nome = server::tabella(schema, t.nome);
        istruzioni.push_back(
            {QStringLiteral("CREATE TABLE %1 (%2)").arg(nome, colonne.join(u", "))});
        for (const QVariantList& riga : t.righe)
            istruzioni.push_back({QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(nome, nomiColonne.join(u", "), segnaposto.join(u", ")),
                                  riga});
    }
    return istruzioni;
}

// The files that sit beside a database and belong to it: the rollback journal (which the
// next opener would replay into whatever database then bears the name) and WAL leftovers.
QStringList fileCompagni(const QString& db) {
    return {db + QStringLiteral("-journal"), db + QStringLiteral("-wal"),
            db + QStringLiteral("-shm")};
}

void rimuovi(const QString& file) {
    if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
        QFile::remove(file);
}

void rimuoviConCompagni(const QString& file) {
    rimuovi(file);
    for (const QString& c : fileCompagni(file))
        rimuovi(c);
}

// Writes one database into `file` (a fresh temporary name) in one transaction, in rollback
// journal mode.
void scriviDatabase(const QString& file, const Database& descrizione) {
    Connessione conn(file, QString());
    QSqlDatabase db = conn.db();
    if (!db.open())
        throw erroreSql(db.lastError(), file);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=DELETE")))
        throw erroreSql(q.lastError(), file);
    if (!q.next() || q.value(0).toString().compare(u"delete", Qt::CaseInsensitive) != 0)
        throw ErroreQvr(Err::ErroreArchivio,
                        file + QStringLiteral(": modalità journal non impostata"));
    q.finish();
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        throw erroreSql(q.lastError(), file);
    for (const Istruzione& istr : istruzioniSqlite(descrizione)) {
        if (!q.prepare(istr.sql)) {
            const ErroreQvr errore = erroreSql(q.lastError(), file);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            throw errore;
        }
        for (const QVariant& v : istr.valori)
            q.addBindValue(v);
        if (!q.exec()) {
            const ErroreQvr errore = erroreSql(q.lastError(), file);
            q.finish();
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            throw errore;
        }
        q.finish();
    }
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const ErroreQvr errore = erroreSql(q.lastError(), file);
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        throw errore;
    }
}

ErroreQvr erroreCartella(const QString& cartella, const QString& cosa) {
    return ErroreQvr(Err::AccessoNegato, cosa + QStringLiteral(": ") + cartella);
}

// The archive on a server: the database when missing, then in one transaction every schema
// with its tables and first rows and the counter row. A failure leaves the database as it was.
void creaArchivioServer(const QString& uri, const OpzioniArchivio& opzioni, bool sovrascrivi) {
    server::creaDatabase(uri);
    server::Connessione c(uri);
    // Many statements in one transaction, which waits for the rows other stations hold.
    if (const auto e = c.impostaLimiteRisposta(server::LimiteLavoriLunghiMs))
        throw c.errore(*e, {}, {});
    const auto fallisci = [&](const QSqlError& e, const QString& oggetto) {
        const ErroreQvr errore = c.errore(e, {}, oggetto);
        (void)c.esegui(QStringLiteral("ROLLBACK"));
        throw errore;
    };
    QStringList presenti;
    {
        QSqlQuery q(c.db());
        q.setForwardOnly(true);
        if (const auto e = c.esegui(q, QStringLiteral("SELECT nspname FROM pg_namespace")))
            throw c.errore(*e, {}, QStringLiteral("pg_namespace"));
        while (q.next())
            if (server::schemi().contains(q.value(0).toString()))
                presenti << q.value(0).toString();
    }
    if (!presenti.isEmpty() && !sovrascrivi)
        throw ErroreQvr(Err::AccessoNegato,
                        QStringLiteral("archivio già presente, non sovrascritto: %1 (schemi %2)")
                            .arg(server::uriPerMessaggi(uri), presenti.join(u", ")));
    if (const auto e = c.esegui(QStringLiteral("BEGIN")))
        throw c.errore(*e, {}, {});
    // A station may hold a row for a moment: the creation waits for it.
    if (const auto e = c.esegui(QStringLiteral("SET LOCAL lock_timeout = '30s'")))
        fallisci(*e, {});
    for (const QString& schema : presenti)
        if (const auto e = c.esegui(
                QStringLiteral("DROP SCHEMA %1 CASCADE").arg(server::identificatore(schema))))
            fallisci(*e, schema);
    for (const Database& d : descriviArchivio(opzioni)) {
        const QString schema = server::schemaDelFile(d.nome);
        for (const Istruzione& istr : istruzioniServer(d, schema))
            if (const auto e = c.esegui(istr.sql, istr.valori))
                fallisci(*e, d.nome);
    }
    const QString contatore = server::tabella(server::SchemaContatore, server::TabellaContatore);
    const QString chiave = server::identificatore(server::ColonnaChiave);
    const QString valore = server::identificatore(server::CampoValore);
    for (const QString& sql :
         {QStringLiteral("CREATE TABLE %1 (%2 bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
                         "%3 text)")
              .arg(contatore, chiave, valore),
          QStringLiteral("INSERT INTO %1 (%2) VALUES (E'0\\r\\n')").arg(contatore, valore)})
        if (const auto e = c.esegui(sql))
            fallisci(*e, nomi::FileContatore);
    if (const auto e = c.esegui(QStringLiteral("COMMIT")))
        fallisci(*e, {});
}

} // namespace

namespace {

// The folder of a new archive, made when missing: refused when it is no folder.
void preparaCartella(const QString& cartella) {
    if (cartella.isEmpty())
        throw ErroreQvr(Err::PercorsoNonTrovato, QStringLiteral("cartella dell'archivio vuota"));
    const QFileInfo info(cartella);
    if (info.exists() && !info.isDir())
        throw erroreCartella(cartella, QStringLiteral("non è una cartella"));
    if (!info.exists() && !QDir().mkpath(cartella))
        throw erroreCartella(cartella, QStringLiteral("impossibile creare la cartella"));
}

// Nothing is touched when any file of an archive is already there, unless asked.
void controllaPresenti(const QDir& dir, const std::vector<Database>& archivio,
                       const QString& contatore, bool sovrascrivi) {
    QStringList presenti;
    for (const Database& d : archivio) {
        const QString file = dir.filePath(d.nome);
        if (QFileInfo::exists(file))
            presenti << file;
        for (const QString& c : fileCompagni(file))
            if (QFileInfo::exists(c))
                presenti << c;
    }
    if (QFileInfo::exists(contatore))
        presenti << contatore;
    if (!presenti.isEmpty() && !sovrascrivi)
        throw ErroreQvr(Err::AccessoNegato,
                        QStringLiteral("archivio già presente, non sovrascritto: %1")
                            .arg(presenti.join(u", ")));
}

// Every database written whole under a temporary name: a failure leaves the folder as it was
// (an archive being replaced stays intact). The temporary and final names, in order.
std::vector<std::pair<QString, QString>> scriviTemporanei(const QDir& dir,
                                                          const std::vector<Database>& archivio) {
    std::vector<std::pair<QString, QString>> pronti;
    const QString marca = QUuid::createUuid().toString(QUuid::Id128).left(8);
    try {
        for (const Database& d : archivio) {
            const QString finale = dir.filePath(d.nome);
            const QString temporaneo =
                dir.filePath(QStringLiteral(".%1.%2.nuovo").arg(d.nome, marca));
            pronti.emplace_back(temporaneo, finale);
            rimuoviConCompagni(temporaneo);
            scriviDatabase(temporaneo, d);
        }
    } catch (...) {
        for (const auto& [temporaneo, finale] : pronti)
            rimuoviConCompagni(temporaneo);
        throw;
    }
    return pronti;
}

// Each database takes its name in one step. A journal left beside the old database would be
// replayed into the new one, so it goes first.
void rinominaTemporanei(const std::vector<std::pair<QString, QString>>& pronti) {
    for (std::size_t i = 0; i < pronti.size(); ++i) {
        const auto& [temporaneo, finale] = pronti[i];
        for (const QString& c : fileCompagni(finale))
            rimuovi(c);
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(temporaneo).toStdString(),
                                QFile::encodeName(finale).toStdString(), ec);
        if (ec) {
            for (std::size_t j = i; j < pronti.size(); ++j)
                rimuoviConCompagni(pronti[j].first);
            throw ErroreQvr(Err::AccessoNegato,
                            finale + QStringLiteral(": ") + QString::fromStdString(ec.message()));
        }
    }
}

// The counter: an existing file is rewritten in place under its lock (a station may hold it);
// a missing one is written whole and renamed into place.
void scriviContatoreNuovo(const QString& contatore) {
    if (QFileInfo::exists(contatore)) {
        contatore::scriviNumero(contatore, 0);
        return;
    }
    QSaveFile f(contatore);
    if (!f.open(QIODevice::WriteOnly))
        throw ErroreQvr(Err::AccessoNegato, contatore + QStringLiteral(": ") + f.errorString());
    if (f.write("0\r\n") != 3 || !f.commit())
        throw ErroreQvr(Err::ErroreIO, contatore + QStringLiteral(": ") + f.errorString());
}

} // namespace

void MotoreServer::crea(const OpzioniArchivio& opzioni, bool sovrascrivi) const {
    creaArchivioServer(m_testo, opzioni, sovrascrivi);
}

void MotoreCartella::crea(const OpzioniArchivio& opzioni, bool sovrascrivi) const {
    const QString& cartella = m_testo;
    preparaCartella(cartella);
    const QDir dir(cartella);
    const std::vector<Database> archivio = descriviArchivio(opzioni);
    const QString contatore = dir.filePath(nomi::FileContatore);
    controllaPresenti(dir, archivio, contatore, sovrascrivi);
    if (!QFileInfo(cartella).isWritable())
        throw erroreCartella(cartella, QStringLiteral("cartella di sola lettura"));
    rinominaTemporanei(scriviTemporanei(dir, archivio));
    scriviContatoreNuovo(contatore);
}

void MotoreCartella::controllaCartella() const {
    if (!QFileInfo(m_testo).isDir())
        throw ErroreQvr(Err::PercorsoNonValido, m_testo);
}

void creaArchivio(const QString& cartella, const OpzioniArchivio& opzioni, bool sovrascrivi) {
    MotoreArchivio::di(cartella)->crea(opzioni, sovrascrivi);
}

std::vector<TabellaArchivio> tabelleArchivio() {
    std::vector<TabellaArchivio> elenco;
    for (const Database& d : descriviArchivio({}))
        for (const Tabella& t : d.tabelle) {
            TabellaArchivio a{d.nome, t.nome, {}};
            for (const Colonna& c : t.colonne)
                a.campi << c.nome;
            elenco.push_back(std::move(a));
        }
    return elenco;
}

qint32 emettiBiglietto(const QString& cartella, int sequenza) {
    // A native folder: missing or not a folder is refused before any database is opened.
    MotoreArchivio::di(cartella)->controllaCartella();
    return biglietti::emetti(cartella, sequenza).numero;
}

} // namespace qvr
