#include "archive/server.h"

#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"

#include <QAtomicInteger>
#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QUrl>

#include <libpq-fe.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace qvr::server {

namespace {

QAtomicInteger<quint64> g_connessioni{0};

// How long a connection attempt may take when the URI does not say (libpq waits forever).
constexpr int AttesaConnessioneSecondi = 5;
// The server's bound on a statement when the URI does not say: every statement of the stations
// takes milliseconds, and a row held by another station is waited for in steps of AttesaBloccoMs.
constexpr qint64 LimiteIstruzioneMs = 4000;
// How much longer than the server's bound the client waits for an answer before it gives up:
// a server that answers cancels the statement itself first (57014, the connection still sound).
constexpr qint64 MargineRispostaMs = 1000;
// The server ends a transaction left idle this long (a station hung while it held a row).
constexpr qint64 LimiteTransazioneInattivaMs = 60000;
// TCP settings of libpq when the URI does not say: a peer that vanished (host down, cable
// pulled) is dropped by the kernel after about 5 s idle plus three probes 2 s apart, or when
// data sent stays unacknowledged for 5 s.
const std::pair<const char*, const char*> OpzioniTcp[] = {
    {"keepalives", "1"},       {"keepalives_idle", "5"},     {"keepalives_interval", "2"},
    {"keepalives_count", "3"}, {"tcp_user_timeout", "5000"},
};
// The keys of the URI's query that are the server's settings rather than libpq's.
const QString ChiaveIstruzione = QStringLiteral("statement_timeout");
const QString ChiaveInattiva = QStringLiteral("idle_in_transaction_session_timeout");
// How long a statement waits for a row lock before the caller looks up (and runs its waiting
// hook); the caller's own bound decides when to give up.
constexpr int AttesaBloccoMs = 100;

// The idle connections of this thread, per URI; closed when the thread ends.
struct Pool {
    QHash<QString, QStringList> libere;
    QHash<QString, qint64> risposta; // the client's bound on an answer, per URI (attese())
    ~Pool() { chiudi(); }
    void chiudi() {
        for (auto it = libere.begin(); it != libere.end(); ++it)
            for (const QString& nome : it.value())
                rimuovi(nome);
        libere.clear();
    }
    static void rimuovi(const QString& nome) {
        {
            QSqlDatabase d = QSqlDatabase::database(nome, false);
            if (d.isValid())
                d.close();
        }
        QSqlDatabase::removeDatabase(nome);
    }
};

Pool& pool() {
    thread_local Pool p;
    return p;
}

QString decodifica(const QString& s) {
    return QUrl::fromPercentEncoding(s.toUtf8());
}

// A value of a keyword/value connection string, quoted as libpq reads it.
QString quotaValore(const QString& v) {
    QString q = v;
    q.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    q.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

[[noreturn]] void uriNonValido(const QString& uri, const QString& motivo) {
    throw ErroreQvr(Err::PercorsoNonValido,
                    uriPerMessaggi(uri) + QStringLiteral(": indirizzo del server non valido (") +
                        motivo + QStringLiteral(")"));
}

// A duration as the server reads it: a whole number of milliseconds, or with a unit (ms, s, min,
// h). Nothing for anything else.
std::optional<qint64> durataMs(const QString& testo) {
    static const QRegularExpression forma(QStringLiteral(R"(^\s*(\d{1,9})\s*(ms|s|min|h)?\s*$)"));
    const QRegularExpressionMatch m = forma.match(testo);
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 n = m.captured(1).toLongLong();
    const QString unita = m.captured(2);
    if (unita == QLatin1String("s"))
        return n * 1000;
    if (unita == QLatin1String("min"))
        return n * 60000;
    if (unita == QLatin1String("h"))
        return n * 3600000;
    return n;
}

// Watches the statements in flight: one that got no answer by its deadline has its socket shut
// down, so that the client library's blocking wait ends at once with a lost connection. One
// thread for the whole process, started with the first watch.
class Sorvegliante {
public:
    static Sorvegliante& istanza() {
        static Sorvegliante s;
        return s;
    }
    quint64 arma(int presa, qint64 millisecondi) {
        std::lock_guard<std::mutex> blocco(m_mutex);
        if (!m_filo.joinable())
            m_filo = std::thread([this] { ciclo(); });
        const quint64 id = ++m_ultimo;
        m_voci[id] = Voce{presa, Orologio::now() + std::chrono::milliseconds(millisecondi), false};
        m_cambio.notify_one();
        return id;
    }
    // Ends a watch; true when its deadline passed and the socket was shut down.
    bool disarma(quint64 id) {
        std::lock_guard<std::mutex> blocco(m_mutex);
        const auto it = m_voci.find(id);
        if (it == m_voci.end())
            return false;
        const bool scaduta = it->second.scaduta;
        m_voci.erase(it);
        return scaduta;
    }

private:
    using Orologio = std::chrono::steady_clock;
    struct Voce {
        int presa;
        Orologio::time_point scadenza;
        bool scaduta;
    };
    Sorvegliante() = default;
    ~Sorvegliante() {
        {
            std::lock_guard<std::mutex> blocco(m_mutex);
            m_fine = true;
        }
        m_cambio.notify_one();
        if (m_filo.joinable())
            m_filo.join();
    }
    void ciclo() {
        std::unique_lock<std::mutex> blocco(m_mutex);
        while (!m_fine) {
            auto prossima = Orologio::time_point::max();
            const auto adesso = Orologio::now();
            for (auto& [id, v] : m_voci) {
                if (v.scaduta)
                    continue;
                if (v.scadenza <= adesso) {
                    // The socket stays open (its owner closes it): only its traffic ends.
                    ::shutdown(v.presa, SHUT_RDWR);
                    v.scaduta = true;
                } else if (v.scadenza < prossima) {
                    prossima = v.scadenza;
                }
            }
            if (prossima == Orologio::time_point::max())
                m_cambio.wait(blocco);
            else
                m_cambio.wait_until(blocco, prossima);
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cambio;
    std::map<quint64, Voce> m_voci;
    quint64 m_ultimo = 0;
    bool m_fine = false;
    std::thread m_filo;
};

// The socket of an open connection of the driver, or -1.
int presaDi(const QSqlDatabase& d) {
    if (!d.isValid() || !d.driver())
        return -1;
    const QVariant h = d.driver()->handle();
    // The driver hands its connection as a PGconn*, whose type Qt names after the struct.
    if (!h.isValid() ||
        (qstrcmp(h.typeName(), "PGconn*") != 0 && qstrcmp(h.typeName(), "pg_conn*") != 0))
        return -1;
    PGconn* conn = *static_cast<PGconn* const*>(h.constData());
    return conn ? PQsocket(conn) : -1;
}

// The failure of a statement the client gave up on.
QSqlError erroreSenzaRisposta(qint64 millisecondi) {
    const QString testo = QStringLiteral("il server non ha risposto entro %1 ms").arg(millisecondi);
    return QSqlError(testo, testo, QSqlError::ConnectionError, QStringLiteral("57014"));
}

// Sets up a connection named `nome` to the database of `p` (not opened yet).
void preparaConnessione(const QString& nome, const QString& uri, const Parametri& p) {
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), nome);
    if (!d.isValid())
        throw ErroreQvr(Err::ErroreArchivio,
                        QStringLiteral("driver QPSQL non disponibile (pacchetto libqt6sql6-psql)"));
    QStringList host;
    for (const QString& h : p.host)
        host << h;
    if (!host.isEmpty())
        d.setHostName(host.join(QLatin1Char(',')));
    if (!p.database.isEmpty())
        d.setDatabaseName(p.database);
    if (!p.utente.isEmpty())
        d.setUserName(p.utente);
    if (!p.password.isEmpty())
        d.setPassword(p.password);
    QStringList opzioni;
    QStringList date;
    const auto aggiungi = [&](const QString& chiave, const QString& valore) {
        // The driver turns every ";" of its options into a blank: such a value cannot pass.
        if (valore.contains(QLatin1Char(';')) || chiave.contains(QLatin1Char(';')))
            uriNonValido(uri, QStringLiteral("\";\" nel parametro ") + chiave);
        opzioni << chiave + QLatin1Char('=') + quotaValore(valore);
    };
    bool portaVera = false;
    for (const QString& porta : p.porte)
        portaVera = portaVera || !porta.isEmpty();
    if (portaVera)
        aggiungi(QStringLiteral("port"), p.porte.join(QLatin1Char(',')));
    for (const auto& [chiave, valore] : p.opzioni) {
        date << chiave;
        if (chiave == ChiaveIstruzione || chiave == ChiaveInattiva)
            continue; // the server's settings: set after the connection is open
        aggiungi(chiave, valore);
    }
    const auto predefinita = [&](const QString& chiave, const QString& valore) {
        if (!date.contains(chiave))
            aggiungi(chiave, valore);
    };
    predefinita(QStringLiteral("connect_timeout"), QString::number(AttesaConnessioneSecondi));
    predefinita(QStringLiteral("application_name"), QStringLiteral("qvr"));
    for (const auto& [chiave, valore] : OpzioniTcp)
        predefinita(QString::fromLatin1(chiave), QString::fromLatin1(valore));
    d.setConnectOptions(opzioni.join(QLatin1Char(';')));
}

QString testoDi(const QSqlError& e) {
    const QString t = e.databaseText().trimmed();
    return t.isEmpty() ? e.text().trimmed() : t;
}

// A value as an SQL literal, as the driver writes it (strings escaped by the driver).
QString letterale(const QSqlDatabase& db, const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return QStringLiteral("NULL");
    QSqlField f(QString(), v.metaType());
    f.setValue(v);
    return db.driver()->formatValue(f);
}

QString componi(const QSqlDatabase& db, const QString& sql, const QVariantList& valori) {
    if (valori.isEmpty())
        return sql;
    QString uscita;
    uscita.reserve(sql.size() + 16 * valori.size());
    qsizetype i = 0;
    for (const QChar c : sql) {
        if (c == QLatin1Char('?') && i < valori.size())
            uscita += letterale(db, valori[i++]);
        else
            uscita += c;
    }
    return uscita;
}

} // namespace

QString schemaDelFile(const QString& nomeFile) {
    static const std::pair<QString, QString> tabella[] = {
        {nomi::FileQVR, QStringLiteral("qvr")},       {nomi::FileQVRA, QStringLiteral("qvra")},
        {nomi::FileQVRB, QStringLiteral("qvrb")},     {nomi::FileTotem, QStringLiteral("totem")},
        {nomi::FileAgenda, QStringLiteral("agenda")}, {nomi::FileContatore, SchemaContatore},
    };
    for (const auto& [file, schema] : tabella)
        if (file.compare(nomeFile, Qt::CaseInsensitive) == 0)
            return schema;
    return {};
}

QStringList schemi() {
    return {QStringLiteral("qvr"), QStringLiteral("qvra"), QStringLiteral("qvrb"),
            QStringLiteral("totem"), QStringLiteral("agenda")};
}

std::optional<Posizione> posizione(const QString& percorsoTesto) {
    if (!eServer(percorsoTesto))
        return std::nullopt;
    Posizione p;
    const qsizetype barra = percorsoTesto.lastIndexOf(QLatin1Char('\\'));
    if (barra < 0) {
        p.uri = percorsoTesto;
        return p;
    }
    p.uri = percorsoTesto.left(barra);
    p.file = percorsoTesto.mid(barra + 1);
    p.schema = schemaDelFile(p.file);
    return p;
}

namespace {

// The length of the URI's scheme with its "://" (the scheme in any case), 0 for no server URI.
qsizetype lunghezzaSchema(const QString& uri) {
    for (const QLatin1String schema :
         {QLatin1String("postgresql://"), QLatin1String("postgres://")})
        if (uri.startsWith(schema, Qt::CaseInsensitive))
            return schema.size();
    return 0;
}

// Where the user and password of a URI end: the index of the "@" that closes them, or -1 when
// the URI has none. `inizio` is the first character after "://". A password may hold "/", "?",
// "#" or "@" without percent escapes, so the closing "@" is the last one of the text that does
// not stand in the query's "key=value" parameters ("?application_name=a@b"): an "@" is taken
// for the query's when an "=" stands between the first "?" and it.
qsizetype fineCredenziali(const QString& uri, qsizetype inizio) {
    const qsizetype domanda = uri.indexOf(QLatin1Char('?'), inizio);
    for (qsizetype a = uri.lastIndexOf(QLatin1Char('@')); a >= inizio;
         a = a > 0 ? uri.lastIndexOf(QLatin1Char('@'), a - 1) : -1) {
        if (domanda < 0 || domanda > a ||
            !QStringView(uri).mid(domanda + 1, a - domanda - 1).contains(u'='))
            return a;
    }
    return -1;
}

// The query parameters that carry a secret (libpq's keywords, in any case).
bool parametroSegreto(const QString& chiave) {
    return chiave.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0 ||
           chiave.compare(QLatin1String("sslpassword"), Qt::CaseInsensitive) == 0;
}

} // namespace

namespace {

// The hosts and ports of the authority ("h1:p1,[::1]:p2"), each checked, into p.
void analizzaHost(const QString& uri, const QString& autorita, Parametri& p) {
    for (const QString& voce : autorita.split(QLatin1Char(','))) {
        QString host;
        QString porta;
        if (voce.startsWith(QLatin1Char('['))) {
            const qsizetype chiusa = voce.indexOf(QLatin1Char(']'));
            if (chiusa < 0)
                uriNonValido(uri, QStringLiteral("\"]\" mancante"));
            host = voce.mid(1, chiusa - 1);
            const QString dopo = voce.mid(chiusa + 1);
            if (!dopo.isEmpty() && !dopo.startsWith(QLatin1Char(':')))
                uriNonValido(uri, QStringLiteral("dopo \"]\""));
            porta = dopo.mid(1);
        } else {
            const qsizetype dp = voce.lastIndexOf(QLatin1Char(':'));
            host = decodifica(dp < 0 ? voce : voce.left(dp));
            if (dp >= 0)
                porta = voce.mid(dp + 1);
        }
        if (host.isEmpty() && porta.isEmpty() && autorita.contains(QLatin1Char(',')))
            uriNonValido(uri, QStringLiteral("host vuoto nell'elenco"));
        for (const QChar c : porta)
            if (!c.isDigit())
                uriNonValido(uri, QStringLiteral("porta non numerica: ") + porta);
        if (!porta.isEmpty() && (porta.toInt() < 1 || porta.toInt() > 65535))
            uriNonValido(uri, QStringLiteral("porta fuori intervallo: ") + porta);
        p.host << host;
        p.porte << porta;
    }
}

// The query parameters ("a=1&b=2"), decoded, into p. A piece without a value is refused; after a
// secret parameter it is not shown, since it may be the rest of the secret.
void analizzaOpzioni(const QString& uri, const QString& interrogazione, Parametri& p) {
    bool dopoSegreto = false;
    for (const QString& coppia : interrogazione.split(QLatin1Char('&'))) {
        if (coppia.isEmpty())
            continue;
        const qsizetype u = coppia.indexOf(QLatin1Char('='));
        // After a password the piece may be the rest of it (an "&" not escaped): not shown.
        if (u <= 0)
            uriNonValido(uri, dopoSegreto ? QStringLiteral("parametro senza valore")
                                          : QStringLiteral("parametro senza valore: ") + coppia);
        p.opzioni.append({decodifica(coppia.left(u)), decodifica(coppia.mid(u + 1))});
        dopoSegreto = parametroSegreto(p.opzioni.last().first);
    }
}

} // namespace

Parametri analizzaUri(const QString& uri) {
    Parametri p;
    const qsizetype schema = lunghezzaSchema(uri);
    if (schema == 0)
        uriNonValido(uri, QStringLiteral("schema diverso da postgresql://"));
    QString resto = uri.mid(schema);
    if (resto.contains(QLatin1Char('\\')) || resto.contains(QLatin1Char(' ')))
        uriNonValido(uri, QStringLiteral("carattere non ammesso"));
    // User and password first: the password may hold any of the separators that follow.
    QString credenziali;
    bool conCredenziali = false;
    if (const qsizetype a = fineCredenziali(resto, 0); a >= 0) {
        credenziali = resto.left(a);
        resto = resto.mid(a + 1);
        conCredenziali = true;
    }

    QString interrogazione;
    if (const qsizetype q = resto.indexOf(QLatin1Char('?')); q >= 0) {
        interrogazione = resto.mid(q + 1);
        resto.truncate(q);
    }
    QString autorita = resto;
    if (const qsizetype s = resto.indexOf(QLatin1Char('/')); s >= 0) {
        autorita = resto.left(s);
        p.database = decodifica(resto.mid(s + 1));
        if (p.database.contains(QLatin1Char('/')))
            uriNonValido(uri, QStringLiteral("nome del database con \"/\""));
    }
    if (conCredenziali) {
        const qsizetype dp = credenziali.indexOf(QLatin1Char(':'));
        p.utente = decodifica(dp < 0 ? credenziali : credenziali.left(dp));
        if (dp >= 0)
            p.password = decodifica(credenziali.mid(dp + 1));
    }
    if (!autorita.isEmpty())
        analizzaHost(uri, autorita, p);
    if (!interrogazione.isEmpty())
        analizzaOpzioni(uri, interrogazione, p);
    // Hosts given only through the query ("?host=/run/postgresql") are libpq's business.
    bool tuttiVuoti = true;
    for (const QString& h : p.host)
        tuttiVuoti = tuttiVuoti && h.isEmpty();
    if (tuttiVuoti)
        p.host.clear();
    bool porteVuote = true;
    for (const QString& porta : p.porte)
        porteVuote = porteVuote && porta.isEmpty();
    if (porteVuote)
        p.porte.clear();
    return p;
}

QString uriPerMessaggi(const QString& uri) {
    const qsizetype schema = lunghezzaSchema(uri);
    if (schema == 0)
        return uri;
    QString uscita = uri.left(schema);
    qsizetype dopo = schema;
    if (const qsizetype a = fineCredenziali(uri, schema); a >= 0) {
        const QString credenziali = uri.mid(schema, a - schema);
        const qsizetype dp = credenziali.indexOf(QLatin1Char(':'));
        uscita += dp < 0 ? credenziali : credenziali.left(dp + 1) + QStringLiteral("***");
        uscita += QLatin1Char('@');
        dopo = a + 1;
    }
    const qsizetype domanda = uri.indexOf(QLatin1Char('?'), dopo);
    if (domanda < 0)
        return uscita + uri.mid(dopo);
    uscita += uri.mid(dopo, domanda + 1 - dopo);
    // The value of a password parameter, and any piece without "=" after it (the rest of a
    // password holding an "&"), become "***".
    QStringList coppie;
    bool dopoSegreto = false;
    for (const QString& coppia : uri.mid(domanda + 1).split(QLatin1Char('&'))) {
        const qsizetype u = coppia.indexOf(QLatin1Char('='));
        if (u < 0) {
            coppie << (dopoSegreto && !coppia.isEmpty() ? QStringLiteral("***") : coppia);
            continue;
        }
        dopoSegreto = parametroSegreto(decodifica(coppia.left(u)));
        coppie << (dopoSegreto ? coppia.left(u + 1) + QStringLiteral("***") : coppia);
    }
    return uscita + coppie.join(QLatin1Char('&'));
}

QString mascheraTesto(const QString& testo) {
    if (!testo.contains(QLatin1String("://")))
        return testo;
    QString uscita;
    qsizetype fatto = 0;
    for (qsizetype i = testo.indexOf(QLatin1String("://")); i >= 0;
         i = testo.indexOf(QLatin1String("://"), i + 3)) {
        qsizetype inizio = i;
        while (inizio > fatto && testo[inizio - 1].isLetter())
            --inizio;
        const QString candidato = testo.mid(inizio);
        if (lunghezzaSchema(candidato) == 0)
            continue;
        // An address ends at a blank, a backslash (a file of the archive follows) or a quote.
        qsizetype fine = inizio;
        while (fine < testo.size() && !testo[fine].isSpace() && testo[fine] != QLatin1Char('\\') &&
               testo[fine] != QLatin1Char('"'))
            ++fine;
        uscita +=
            testo.mid(fatto, inizio - fatto) + uriPerMessaggi(testo.mid(inizio, fine - inizio));
        fatto = fine;
        i = qMax(i, fine - 3);
    }
    return uscita + testo.mid(fatto);
}

QString uriConDatabase(const QString& uri, const QString& database) {
    // After the user and password, which may hold "/" and "?".
    const qsizetype schema = lunghezzaSchema(uri);
    const qsizetype a = fineCredenziali(uri, schema);
    const qsizetype inizio = a >= 0 ? a + 1 : schema;
    qsizetype fine = uri.size();
    const qsizetype domanda = uri.indexOf(QLatin1Char('?'), inizio);
    if (domanda >= 0)
        fine = domanda;
    qsizetype barra = uri.indexOf(QLatin1Char('/'), inizio);
    if (barra < 0 || barra > fine)
        barra = fine;
    return uri.left(barra) + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(database)) + uri.mid(fine);
}

QString traduciSql(const QString& testo) {
    QString uscita;
    uscita.reserve(testo.size() + 8);
    bool inLetterale = false;
    bool inNome = false;
    for (const QChar c : testo) {
        if (inLetterale) {
            uscita += c;
            if (c == QLatin1Char('\''))
                inLetterale = false; // a doubled quote closes and reopens: same result
        } else if (inNome) {
            if (c == QLatin1Char(']')) {
                uscita += QLatin1Char('"');
                inNome = false;
            } else if (c == QLatin1Char('"')) {
                uscita += QStringLiteral("\"\"");
            } else {
                uscita += c;
            }
        } else if (c == QLatin1Char('\'')) {
            inLetterale = true;
            uscita += c;
        } else if (c == QLatin1Char('[')) {
            inNome = true;
            uscita += QLatin1Char('"');
        } else {
            uscita += c;
        }
    }
    if (inNome)
        uscita += QLatin1Char('"');
    return uscita;
}

QString identificatore(const QString& nome) {
    return traduciSql(QLatin1Char('[') + nome + QLatin1Char(']'));
}

QString tabella(const QString& schema, const QString& nome) {
    return identificatore(schema) + QLatin1Char('.') + identificatore(nome);
}

int numeroDaStato(const QString& s, Ambito ambito) {
    const bool contatore = ambito == Ambito::Contatore;
    if (s.isEmpty() || s.startsWith(QLatin1String("08")) || s == QLatin1String("57P01") ||
        s == QLatin1String("57P02") || s == QLatin1String("57P03") || s == QLatin1String("25P03"))
        return contatore ? Err::ErroreIO : Err::ErroreDiscoRete;
    if (s.startsWith(QLatin1String("28"))) // authentication: the archive cannot be reached
        return contatore ? Err::PercorsoNonTrovato : Err::PercorsoNonValido;
    // No answer in time (the server's statement bound, or the client gave up): the same as a
    // server that cannot be reached.
    if (s == QLatin1String("57014"))
        return contatore ? Err::PercorsoNonTrovato : Err::PercorsoNonValido;
    if (s == QLatin1String("3D000"))
        return contatore ? Err::PercorsoNonTrovato : Err::DatabaseNonTrovato;
    if (s == QLatin1String("3F000"))
        return contatore ? Err::FileNonTrovato : Err::DatabaseNonTrovato;
    if (s == QLatin1String("42P01"))
        return contatore ? Err::FileNonTrovato : Err::TabellaNonTrovata;
    if (s == QLatin1String("42703"))
        return contatore ? Err::FileNonTrovato : Err::CampoNonTrovato;
    if (s == QLatin1String("25006"))
        return contatore ? Err::AccessoNegato : Err::SolaLettura;
    if (s == QLatin1String("42501"))
        return Err::AccessoNegato;
    if (s == QLatin1String("55P03") || s == QLatin1String("40001") || s == QLatin1String("40P01"))
        return contatore ? Err::AutorizzazioneNegata : Err::RecordBloccato;
    if (s == QLatin1String("53100"))
        return Err::DiscoPieno;
    if (s == QLatin1String("22003"))
        return Err::Overflow;
    if (s == QLatin1String("22P02"))
        return Err::TipoNonCorrispondente;
    if (s == QLatin1String("23502"))
        return Err::UsoNonValidoNull;
    if (s == QLatin1String("XX001") || s == QLatin1String("XX002"))
        return contatore ? Err::ErroreIO : Err::DatabaseDanneggiato;
    if (s == QLatin1String("58030"))
        return contatore ? Err::ErroreIO : Err::ErroreDiscoRete;
    return contatore ? Err::ErroreIO : Err::ErroreArchivio;
}

QString statoSql(const QSqlError& e) {
    return e.nativeErrorCode().trimmed();
}

bool connessionePersa(const QSqlError& e) {
    if (!e.isValid())
        return false;
    const QString s = statoSql(e);
    return s.isEmpty() || s.startsWith(QLatin1String("08")) || s == QLatin1String("57P01") ||
           s == QLatin1String("57P02") || s == QLatin1String("57P03") ||
           s == QLatin1String("25P03"); // the server ended a transaction left idle too long
}

bool daRitentare(const QSqlError& e) {
    const QString s = statoSql(e);
    return s == QLatin1String("40001") || s == QLatin1String("40P01");
}

bool rigaBloccata(const QSqlError& e) {
    return statoSql(e) == QLatin1String("55P03");
}

bool senzaRisposta(const QSqlError& e) {
    return statoSql(e) == QLatin1String("57014");
}

Attese attese(const QString& uri, const Parametri& p) {
    Attese a;
    a.connessioneSecondi = AttesaConnessioneSecondi;
    a.istruzioneMs = LimiteIstruzioneMs;
    a.transazioneInattivaMs = LimiteTransazioneInattivaMs;
    const auto durata = [&](const QString& chiave, const QString& valore) {
        const std::optional<qint64> ms = durataMs(valore);
        if (!ms)
            uriNonValido(uri, QStringLiteral("durata non valida per ") + chiave);
        return *ms;
    };
    // Settings in the server's own options ("-c statement_timeout=3s") count as given; a key of
    // the query itself comes after them and wins.
    static const QRegularExpression inOpzioni(QStringLiteral(
        R"((?:^|\s)(?:-c\s*|--)(statement_timeout|idle_in_transaction_session_timeout)\s*=\s*(\S+))"));
    for (const auto& [chiave, valore] : p.opzioni) {
        if (chiave != QLatin1String("options"))
            continue;
        for (auto it = inOpzioni.globalMatch(valore); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            (m.captured(1) == ChiaveIstruzione ? a.istruzioneMs : a.transazioneInattivaMs) =
                durata(m.captured(1), m.captured(2));
        }
    }
    for (const auto& [chiave, valore] : p.opzioni) {
        if (chiave == QLatin1String("connect_timeout")) {
            bool ok = false;
            const int secondi = valore.trimmed().toInt(&ok);
            if (!ok || secondi < 0)
                uriNonValido(uri, QStringLiteral("durata non valida per connect_timeout"));
            // libpq: 0 waits for ever, and less than 2 s counts as 2.
            a.connessioneSecondi = secondi == 0 ? 0 : std::max(secondi, 2);
        } else if (chiave == ChiaveIstruzione) {
            a.istruzioneMs = durata(chiave, valore);
        } else if (chiave == ChiaveInattiva) {
            a.transazioneInattivaMs = durata(chiave, valore);
        }
    }
    a.rispostaMs = a.istruzioneMs > 0 ? a.istruzioneMs + MargineRispostaMs : 0;
    return a;
}

Connessione::Connessione(const QString& uri, Ambito ambito) : m_uri(uri), m_ambito(ambito) {
    QStringList& libere = pool().libere[uri];
    while (!libere.isEmpty()) {
        const QString nome = libere.takeLast();
        if (QSqlDatabase::database(nome, false).isOpen()) {
            m_nome = nome;
            m_riusata = true;
            m_rispostaMs = pool().risposta.value(uri);
            m_istruzioneMs = m_rispostaMs > 0 ? m_rispostaMs - MargineRispostaMs : 0;
            return;
        }
        Pool::rimuovi(nome);
    }
    apri();
}

Connessione::~Connessione() {
    if (m_nome.isEmpty())
        return;
    if (m_transazione && !m_scartata) {
        // A transaction its user left open is never handed on to the next user.
        QSqlQuery q(db());
        bool scaduta = false;
        if (!eseguiSorvegliato(q, QStringLiteral("ROLLBACK"), &scaduta) || scaduta)
            m_scartata = true;
    }
    if (m_scartata || m_limiteProprio || !QSqlDatabase::database(m_nome, false).isOpen()) {
        Pool::rimuovi(m_nome);
        return;
    }
    pool().libere[m_uri].append(m_nome);
}

void Connessione::apri() {
    const Parametri p = analizzaUri(m_uri);
    const Attese limiti = attese(m_uri, p);
    const QString nome = QStringLiteral("qvr-server-%1").arg(++g_connessioni);
    preparaConnessione(nome, m_uri, p);
    bool aperta = false;
    QSqlError e;
    QElapsedTimer durata;
    durata.start();
    {
        QSqlDatabase d = QSqlDatabase::database(nome, false);
        aperta = d.open();
        if (!aperta)
            e = d.lastError();
    }
    if (!aperta) {
        Pool::rimuovi(nome);
        const QString testo = testoDi(e);
        if (m_ambito == Ambito::Contatore)
            throw ErroreQvr(Err::PercorsoNonTrovato, uriPerMessaggi(m_uri), testo);
        // A server that did not answer in time is not asked again for another database.
        const bool rifiutata = limiti.connessioneSecondi == 0 ||
                               durata.elapsed() < limiti.connessioneSecondi * 1000 / 2;
        if (!rifiutata)
            throw ErroreQvr(Err::PercorsoNonValido, uriPerMessaggi(m_uri), testo);
        // The server answers for another database: only this one is missing.
        bool altroApre = false;
        const QString altro = p.database == QLatin1String("postgres") ? QStringLiteral("template1")
                                                                      : QStringLiteral("postgres");
        const QString prova = nome + QStringLiteral("-prova");
        try {
            Parametri q = p;
            q.database = altro;
            preparaConnessione(prova, m_uri, q);
            QSqlDatabase d = QSqlDatabase::database(prova, false);
            altroApre = d.open();
            d.close();
        } catch (const ErroreQvr&) {
        }
        Pool::rimuovi(prova);
        throw ErroreQvr(altroApre ? Err::DatabaseNonTrovato : Err::PercorsoNonValido,
                        uriPerMessaggi(m_uri), testo);
    }
    m_nome = nome;
    m_riusata = false;
    m_rispostaMs = limiti.rispostaMs;
    m_istruzioneMs = limiti.istruzioneMs;
    pool().risposta[m_uri] = m_rispostaMs;
    QSqlQuery q(db());
    bool scaduta = false;
    if (!eseguiSorvegliato(q,
                           QStringLiteral("SET lock_timeout = %1; SET statement_timeout = %2; "
                                          "SET idle_in_transaction_session_timeout = %3; "
                                          "SET client_min_messages = error")
                               .arg(AttesaBloccoMs)
                               .arg(limiti.istruzioneMs)
                               .arg(limiti.transazioneInattivaMs),
                           &scaduta)) {
        const QSqlError f = scaduta ? erroreSenzaRisposta(m_rispostaMs) : q.lastError();
        q = QSqlQuery();
        Pool::rimuovi(m_nome);
        m_nome.clear();
        throw ErroreQvr(numeroDaStato(statoSql(f), m_ambito), uriPerMessaggi(m_uri), testoDi(f));
    }
    if (scaduta) { // answered, but only as the watch ran out: the socket is cut already
        q = QSqlQuery();
        Pool::rimuovi(m_nome);
        m_nome.clear();
        const QSqlError f = erroreSenzaRisposta(m_rispostaMs);
        throw ErroreQvr(numeroDaStato(statoSql(f), m_ambito), uriPerMessaggi(m_uri), testoDi(f));
    }
}

bool Connessione::eseguiSorvegliato(QSqlQuery& q, const QString& testo, bool* scaduta) {
    *scaduta = false;
    const int presa = m_rispostaMs > 0 ? presaDi(db()) : -1;
    if (presa < 0)
        return q.exec(testo);
    Sorvegliante& s = Sorvegliante::istanza();
    const quint64 id = s.arma(presa, m_rispostaMs);
    const bool riuscita = q.exec(testo);
    *scaduta = s.disarma(id);
    if (*scaduta) {
        m_scartata = true;
        m_senzaRisposta = true;
    }
    return riuscita;
}

std::optional<QSqlError> Connessione::impostaLimiteRisposta(qint64 millisecondi) {
    m_limiteProprio = true; // its session keeps the setting: never handed to another user
    const qint64 prima = m_rispostaMs;
    m_rispostaMs = std::max(prima, millisecondi + MargineRispostaMs);
    m_istruzioneMs = millisecondi;
    QSqlQuery q(db());
    bool scaduta = false;
    if (!eseguiSorvegliato(q, QStringLiteral("SET statement_timeout = %1").arg(millisecondi),
                           &scaduta) ||
        scaduta)
        return scaduta ? erroreSenzaRisposta(m_rispostaMs) : q.lastError();
    return std::nullopt;
}

QSqlDatabase Connessione::db() const {
    return QSqlDatabase::database(m_nome, false);
}

std::optional<QSqlError> Connessione::esegui(QSqlQuery& q, const QString& sql,
                                             const QVariantList& valori) {
    if (m_senzaRisposta) // cut for want of an answer: every further call fails the same way
        return erroreSenzaRisposta(m_rispostaMs);
    if (m_scartata) // lost already: nothing more is sent on it
        return QSqlError(QStringLiteral("QPSQL"), QStringLiteral("connessione persa"),
                         QSqlError::ConnectionError, QStringLiteral("08003"));
    for (int tentativo = 0;; ++tentativo) {
        const QString testo = componi(db(), sql, valori);
        bool scaduta = false;
        QElapsedTimer durata;
        durata.start();
        const bool riuscita = eseguiSorvegliato(q, testo, &scaduta);
        if (scaduta) {
            // No answer in time: the connection is cut, the call fails as if the server were
            // down (whatever the statement did, if it ever runs, is not known here).
            m_usata = true;
            m_transazione = false;
            return erroreSenzaRisposta(m_rispostaMs);
        }
        if (riuscita) {
            m_usata = true;
            if (sql.startsWith(QLatin1String("BEGIN")))
                m_transazione = true;
            else if (sql == QLatin1String("COMMIT") || sql == QLatin1String("ROLLBACK"))
                m_transazione = false;
            return std::nullopt;
        }
        QSqlError e = q.lastError();
        if (senzaRisposta(e) && (m_istruzioneMs <= 0 || durata.elapsed() < m_istruzioneMs)) {
            // Cancelled before this session's statement bound could run out: no station sends
            // a cancel, so this is the server ending a wait for a row lock. When its lock timer
            // runs out just as one lock is granted and the next wait begins, the server reports
            // the lock timeout as a cancel "due to user request" (57014 instead of 55P03). The
            // callers wait for a held row and try again; a cancel from an administrator is
            // waited out the same way, up to the caller's bound.
            e = QSqlError(e.driverText(), e.databaseText(), e.type(), QStringLiteral("55P03"));
        }
        if (tentativo == 0 && m_riusata && !m_usata && connessionePersa(e)) {
            // Lost while it waited in the pool (a server restarted): nothing was done on it.
            const bool avanti = q.isForwardOnly();
            q = QSqlQuery();
            Pool::rimuovi(m_nome);
            m_nome.clear();
            apri();
            q = QSqlQuery(db());
            q.setForwardOnly(avanti);
            continue;
        }
        m_usata = true;
        if (connessionePersa(e))
            m_scartata = true;
        if (sql == QLatin1String("COMMIT") || sql == QLatin1String("ROLLBACK"))
            m_transazione = false;
        return e;
    }
}

std::optional<QSqlError> Connessione::esegui(const QString& sql, const QVariantList& valori) {
    QSqlQuery q(db());
    q.setForwardOnly(true);
    return esegui(q, sql, valori);
}

ErroreQvr Connessione::errore(const QSqlError& e, const QString& schema, const QString& oggetto) {
    int numero = numeroDaStato(statoSql(e), m_ambito);
    if (connessionePersa(e))
        m_scartata = true;
    else if (statoSql(e) == QLatin1String("42P01") && m_ambito == Ambito::Archivio &&
             !schema.isEmpty()) {
        // A missing table in a missing schema: the whole archive file is missing. The failed
        // transaction, if any, is over first.
        QSqlQuery q(db());
        bool scaduta = false;
        eseguiSorvegliato(q, QStringLiteral("ROLLBACK"), &scaduta);
        m_transazione = false;
        if (!scaduta &&
            eseguiSorvegliato(q,
                              QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ") +
                                  letterale(db(), schema),
                              &scaduta) &&
            !scaduta && !q.next())
            numero = Err::DatabaseNonTrovato;
    }
    QString dettaglio = uriPerMessaggi(m_uri);
    if (!oggetto.isEmpty())
        dettaglio += QStringLiteral(", ") + oggetto;
    return ErroreQvr(numero, dettaglio, testoDi(e));
}

void chiudiConnessioni() {
    pool().chiudi();
}

int connessioniInAttesa() {
    int n = 0;
    for (const QStringList& l : std::as_const(pool().libere))
        n += l.size();
    return n;
}

void creaDatabase(const QString& uri) {
    const Parametri p = analizzaUri(uri);
    if (p.database.isEmpty())
        throw ErroreQvr(Err::PercorsoNonValido,
                        uriPerMessaggi(uri) + QStringLiteral(": nessun database nell'indirizzo"));
    {
        // Already there: nothing to do.
        try {
            Connessione c(uri);
            return;
        } catch (const ErroreQvr& e) {
            if (e.numero() != Err::DatabaseNonTrovato)
                throw;
        }
    }
    Connessione c(uriConDatabase(uri, QStringLiteral("postgres")));
    // Copying the template database may take a while on a busy server.
    if (const auto e = c.impostaLimiteRisposta(LimiteLavoriLunghiMs))
        throw c.errore(*e, {}, p.database);
    if (const auto e = c.esegui(QStringLiteral("CREATE DATABASE ") + identificatore(p.database)))
        throw c.errore(*e, {}, p.database);
}

} // namespace qvr::server
