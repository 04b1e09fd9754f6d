#include "archive/crea_archivio.h"

#include "archive/biglietti.h"
#include "archive/contatore.h"
#include "archive/errori.h"
#include "archive/errori_sql.h"
#include "archive/nomi.h"

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

struct Database {
    QString nome;
    std::vector<Istruzione> istruzioni;
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

QString siNo(bool valore) {
    return valore ? QStringLiteral("-1") : QStringLiteral("0");
}

std::vector<Database> descriviArchivio(const OpzioniArchivio& o) {
    std::vector<Database> archivio;

    // QVR.mdb: configuration, the station slots and the users.
    {
        Database qvr{nomi::FileQVR, {}};
        qvr.istruzioni.push_back({QStringLiteral("CREATE TABLE Configurazione ("
                                                 "NovantanoveSingle INTEGER, "
                                                 "NovantanoveStandard INTEGER)")});
        qvr.istruzioni.push_back({QStringLiteral("INSERT INTO Configurazione VALUES (%1, %2)")
                                      .arg(siNo(o.dopo99Singola), siNo(o.dopo99Standard))});
        QStringList colonne;
        QStringList segnaposto;
        QVariantList valori;
        for (int n = 1; n <= 10; ++n) {
            colonne << quota(nomi::campoPostoID(n)) + QStringLiteral(" INTEGER")
                    << quota(nomi::campoPostoSS(n)) + QStringLiteral(" TEXT");
            segnaposto << QStringLiteral("?") << QStringLiteral("?");
            valori << QVariant(n) << QVariant(o.modi[n - 1]);
        }
        qvr.istruzioni.push_back(
            {QStringLiteral("CREATE TABLE PostazioneUtente (%1)").arg(colonne.join(u", "))});
        qvr.istruzioni.push_back(
            {QStringLiteral("INSERT INTO PostazioneUtente VALUES (%1)").arg(segnaposto.join(u", ")),
             valori});
        qvr.istruzioni.push_back({QStringLiteral("CREATE TABLE Utenti ("
                                                 "id INTEGER PRIMARY KEY, "
                                                 "Nominativo TEXT, "
                                                 "UtilizzaNelClient INTEGER, "
                                                 "UtilizzaOrarioComeNumero INTEGER)")});
        const QStringList utenti = {
            QStringLiteral("Mario Rossi"),      QStringLiteral("Giulia Bianchi"),
            QStringLiteral("Luca Esposito"),    QStringLiteral("Francesca Romano"),
            QStringLiteral("Alessandro Ricci"), QStringLiteral("Chiara Marino"),
            QStringLiteral("Davide Greco"),     QStringLiteral("Sara Bruno"),
            QStringLiteral("Matteo Gallo"),     QStringLiteral("Elena Conti"),
            QStringLiteral("Nicolò D'Angelo"),
        };
        for (int i = 0; i < utenti.size(); ++i)
            qvr.istruzioni.push_back({QStringLiteral("INSERT INTO Utenti VALUES (?, ?, 0, 0)"),
                                      {QVariant(i + 1), QVariant(utenti[i])}});
        archivio.push_back(std::move(qvr));
    }

    // QVRA.mdb: one single-numbering record per station.
    {
        Database qvra{nomi::FileQVRA, {}};
        for (int n = 1; n <= 10; ++n) {
            const QString tabella = quota(nomi::tabNumerazioneSingle(n));
            qvra.istruzioni.push_back(
                {QStringLiteral("CREATE TABLE %1 (NUMERO INTEGER, Stato INTEGER)").arg(tabella)});
            qvra.istruzioni.push_back({QStringLiteral("INSERT INTO %1 VALUES (0, %2)")
                                           .arg(tabella)
                                           .arg(nomi::StatoAssente)});
        }
        archivio.push_back(std::move(qvra));
    }

    // QVRB.mdb: one display record per station, and the display front end's switch.
    {
        Database qvrb{nomi::FileQVRB, {}};
        for (int n = 1; n <= 10; ++n) {
            const QString tabella = quota(nomi::tabNumeriCode(n));
            qvrb.istruzioni.push_back(
                {QStringLiteral("CREATE TABLE %1 (NumeroA1 NUMERIC, StatoN1 INTEGER, F1 TEXT)")
                     .arg(tabella)});
            qvrb.istruzioni.push_back({QStringLiteral("INSERT INTO %1 VALUES (0, %2, 'F')")
                                           .arg(tabella)
                                           .arg(nomi::StatoAssente)});
        }
        qvrb.istruzioni.push_back({QStringLiteral("CREATE TABLE FE (FEAcceso INTEGER)")});
        qvrb.istruzioni.push_back({QStringLiteral("INSERT INTO FE VALUES (0)")});
        archivio.push_back(std::move(qvrb));
    }

    // Totem.mdb: the kiosk's counters and its switch.
    {
        Database totem{nomi::FileTotem, {}};
        QStringList colonne;
        QStringList zeri;
        for (int n = 1; n <= 11; ++n) {
            colonne << quota(nomi::campoP(n)) + QStringLiteral(" INTEGER");
            zeri << QStringLiteral("0");
        }
        colonne << QStringLiteral("P11Q NUMERIC");
        zeri << QStringLiteral("0");
        totem.istruzioni.push_back(
            {QStringLiteral("CREATE TABLE Numerazione (%1)").arg(colonne.join(u", "))});
        totem.istruzioni.push_back(
            {QStringLiteral("INSERT INTO Numerazione VALUES (%1)").arg(zeri.join(u", "))});
        totem.istruzioni.push_back({QStringLiteral("CREATE TABLE Configurazione (RHDSN TEXT)")});
        totem.istruzioni.push_back(
            {QStringLiteral("INSERT INTO Configurazione VALUES (?)"),
             {QVariant(o.totem ? QStringLiteral("SI") : QStringLiteral("NO"))}});
        archivio.push_back(std::move(totem));
    }

    // Agenda.mdb: the appointment window's tables, each with one sample row.
    {
        Database agenda{nomi::FileAgenda, {}};
        agenda.istruzioni.push_back({QStringLiteral(
            "CREATE TABLE agendaapp (id INTEGER PRIMARY KEY, IdUtente INTEGER, Data TEXT, "
            "Ora TEXT, Nominativo TEXT, Note TEXT, Chiamato INTEGER)")});
        agenda.istruzioni.push_back(
            {QStringLiteral("INSERT INTO agendaapp VALUES (1, 1, ?, '09:00', ?, '', 0)"),
             {QVariant(QStringLiteral("2024-01-08")), QVariant(QStringLiteral("Paolo Ferri"))}});
        agenda.istruzioni.push_back({QStringLiteral(
            "CREATE TABLE urgenze (id INTEGER PRIMARY KEY, IdUtente INTEGER, Nominativo TEXT, "
            "Motivo TEXT, Chiamato INTEGER)")});
        agenda.istruzioni.push_back(
            {QStringLiteral("INSERT INTO urgenze VALUES (1, 1, ?, ?, 0)"),
             {QVariant(QStringLiteral("Anna Colombo")), QVariant(QStringLiteral("Medicazione"))}});
        agenda.istruzioni.push_back(
            {QStringLiteral("CREATE TABLE informatori (id INTEGER PRIMARY KEY, IdUtente INTEGER, "
                            "Nominativo TEXT, Ditta TEXT, Data TEXT, Chiamato INTEGER)")});
        agenda.istruzioni.push_back(
            {QStringLiteral("INSERT INTO informatori VALUES (1, 1, ?, ?, ?, 0)"),
             {QVariant(QStringLiteral("Roberto Fontana")),
              QVariant(QStringLiteral("Farmaceutica Nord")),
              QVariant(QStringLiteral("2024-01-08"))}});
        archivio.push_back(std::move(agenda));
    }

    return archivio;
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
    for (const Istruzione& istr : descrizione.istruzioni) {
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

} // namespace

void creaArchivio(const QString& cartella, const OpzioniArchivio& opzioni, bool sovrascrivi) {
    if (cartella.isEmpty())
        throw ErroreQvr(Err::PercorsoNonTrovato, QStringLiteral("cartella dell'archivio vuota"));
    const QFileInfo info(cartella);
    if (info.exists() && !info.isDir())
        throw erroreCartella(cartella, QStringLiteral("non è una cartella"));
    if (!info.exists() && !QDir().mkpath(cartella))
        throw erroreCartella(cartella, QStringLiteral("impossibile creare la cartella"));
    const QDir dir(cartella);

    const std::vector<Database> archivio = descriviArchivio(opzioni);
    const QString contatore = dir.filePath(nomi::FileContatore);

    // Nothing is touched when any file of an archive is already there, unless asked.
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
    if (!QFileInfo(cartella).isWritable())
        throw erroreCartella(cartella, QStringLiteral("cartella di sola lettura"));

    // Every database is written whole under a temporary name first: a failure leaves the folder
    // as it was (an archive being replaced stays intact).
    std::vector<std::pair<QString, QString>> pronti; // temporary name, final name
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

    // Then each takes its name in one step. A journal left beside the old database would be
    // replayed into the new one, so it goes first.
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

    // The counter: an existing file is rewritten in place under its lock (a station may hold
    // it); a missing one is written whole and renamed into place.
    if (QFileInfo::exists(contatore)) {
        contatore::scriviNumero(contatore, 0);
    } else {
        QSaveFile f(contatore);
        if (!f.open(QIODevice::WriteOnly))
            throw ErroreQvr(Err::AccessoNegato, contatore + QStringLiteral(": ") + f.errorString());
        if (f.write("0\r\n") != 3 || !f.commit())
            throw ErroreQvr(Err::ErroreIO, contatore + QStringLiteral(": ") + f.errorString());
    }
}

qint32 emettiBiglietto(const QString& cartella, int sequenza) {
    // A native folder: missing or not a folder is refused before any database is opened.
    if (!QFileInfo(cartella).isDir())
        throw ErroreQvr(Err::PercorsoNonValido, cartella);
    return biglietti::emetti(cartella, sequenza).numero;
}

} // namespace qvr
