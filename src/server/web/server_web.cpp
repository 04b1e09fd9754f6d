#include "server/web/server_web.h"

#include "archive/biglietti.h"
#include "archive/errori.h"
#include "archive/lettore.h"
#include "archive/nomi.h"
#include "registro/codice_biglietto.h"
#include "registro/letture.h"
#include "tabellone/voce.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <thread>

static void caricaRisorseWeb() {
    Q_INIT_RESOURCE(web);
}

namespace qvr::web {

namespace {

using Clock = std::chrono::steady_clock;

// Headers of one request (each line is at most 8192 bytes: the library's own limit).
constexpr size_t MassimoIntestazioni = 100;

const char* const PoliticaContenuti =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; font-src 'self'; media-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

// One thread per connection, at most `massimo` at once. When they are all taken the listener
// waits here before accepting the next connection, so the ones beyond wait in the kernel's
// backlog instead of piling up in memory.
class CodaConnessioni : public httplib::TaskQueue {
public:
    CodaConnessioni(int massimo, std::atomic<int>& attive) : m_massimo(massimo), m_attive(attive) {}

    void enqueue(std::function<void()> fn) override {
        std::unique_lock l(m_mutex);
        m_cambio.wait(l, [&] { return m_attive.load() < m_massimo || m_chiusa; });
        ++m_attive;
        ++m_vive;
        l.unlock();
        std::thread([this, fn = std::move(fn)] {
            fn();
            std::unique_lock fine(m_mutex);
            --m_attive;
            --m_vive;
            // Notified once this thread is gone, so shutdown() never outlives it.
            std::notify_all_at_thread_exit(m_cambio, std::move(fine));
        }).detach();
    }

    void shutdown() override {
        std::unique_lock l(m_mutex);
        m_chiusa = true;
        m_cambio.notify_all();
        m_cambio.wait(l, [&] { return m_vive == 0; });
    }

private:
    const int m_massimo;
    std::atomic<int>& m_attive;
    std::mutex m_mutex;
    std::condition_variable m_cambio;
    int m_vive = 0;
    bool m_chiusa = false;
};

// Requests per address: a bucket of `raffica` tokens refilled at `alSecondo`.
class Frequenza {
public:
    Frequenza(double alSecondo, double raffica) : m_alSecondo(alSecondo), m_raffica(raffica) {}

    bool ammessa(const std::string& indirizzo) {
        const auto ora = Clock::now();
        std::lock_guard l(m_mutex);
        if (m_secchi.size() > 10000)
            ripulisci(ora);
        auto [it, nuovo] = m_secchi.try_emplace(indirizzo, Secchio{m_raffica, ora});
        Secchio& s = it->second;
        if (!nuovo) {
            const double trascorsi = std::chrono::duration<double>(ora - s.ultima).count();
            s.gettoni = std::min(m_raffica, s.gettoni + trascorsi * m_alSecondo);
            s.ultima = ora;
        }
        if (s.gettoni < 1)
            return false;
        s.gettoni -= 1;
        return true;
    }

private:
    struct Secchio {
        double gettoni;
        Clock::time_point ultima;
    };
    // Forgets the addresses whose bucket would be full again by now.
    void ripulisci(Clock::time_point ora) {
        const auto pieno = std::chrono::duration<double>(m_raffica / m_alSecondo);
        for (auto it = m_secchi.begin(); it != m_secchi.end();)
            it = ora - it->second.ultima > pieno ? m_secchi.erase(it) : std::next(it);
    }

    const double m_alSecondo, m_raffica;
    std::mutex m_mutex;
    std::map<std::string, Secchio> m_secchi;
};

bool loopback(const std::string& a) {
    return a == "::1" || a.rfind("127.", 0) == 0 || a.rfind("::ffff:127.", 0) == 0;
}

// A whole decimal number in [minimo, massimo], nothing else.
std::optional<qint64> intero(const std::string& s, qint64 minimo, qint64 massimo) {
    if (s.empty() || s.size() > 18)
        return std::nullopt;
    qint64 v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < minimo || v > massimo)
        return std::nullopt;
    return v;
}

// The query holds only the parameters named, each at most once, with an acceptable value.
bool parametriValidi(const httplib::Request& req, std::initializer_list<const char*> ammessi) {
    for (const auto& [nome, valore] : req.params) {
        bool noto = false;
        for (const char* a : ammessi)
            noto = noto || nome == a;
        if (!noto || req.get_param_value_count(nome) != 1)
            return false;
        if ((nome == "nominativi" || nome == "audio") && valore != "0" && valore != "1")
            return false;
        if (nome == "dal" && !intero(valore, 0, std::numeric_limits<qint64>::max() / 2))
            return false;
        if (nome == "postazione" && !intero(valore, 1, nomi::NumeroPostazioni))
            return false;
        if (nome == "numero" && !intero(valore, 1, std::numeric_limits<qint32>::max()))
            return false;
        if (nome == "postazioni") {
            const QStringList v = QString::fromStdString(valore).split(QLatin1Char(','));
            if (v.size() > nomi::NumeroPostazioni)
                return false;
            for (const QString& x : v)
                if (!intero(x.toStdString(), 1, nomi::NumeroPostazioni))
                    return false;
        }
    }
    return true;
}

// 16-bit mono PCM as a WAV file.
std::string wav(const QByteArray& pcm) {
    const QByteArray w = tabellone::testaWav(pcm.size()) + pcm;
    return std::string(w.constData(), size_t(w.size()));
}

std::string testoRisorsa(const QString& nome) {
    QFile f(nome);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

} // namespace

std::optional<std::pair<QString, int>> leggiAscolta(const QString& testo) {
    const QString t = testo.trimmed();
    const qsizetype due = t.lastIndexOf(QLatin1Char(':'));
    if (due < 0)
        return std::nullopt;
    QString indirizzo = t.left(due);
    const auto porta = intero(t.mid(due + 1).toStdString(), 0, 65535);
    if (!porta)
        return std::nullopt;
    if (indirizzo.startsWith(QLatin1Char('[')) && indirizzo.endsWith(QLatin1Char(']')))
        indirizzo = indirizzo.mid(1, indirizzo.size() - 2);
    else if (indirizzo.contains(QLatin1Char(':')))
        return std::nullopt; // an IPv6 address goes in brackets
    if (indirizzo.isEmpty())
        indirizzo = QStringLiteral("0.0.0.0");
    for (QChar c : indirizzo)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char(':') ||
              c == QLatin1Char('-')))
            return std::nullopt;
    return std::pair{indirizzo, int(*porta)};
}

QString nomeServizio(const OpzioniWeb& o, int sequenza) {
    if (sequenza >= 1 && sequenza <= o.servizi.size() && !o.servizi[sequenza - 1].isEmpty())
        return o.servizi[sequenza - 1];
    return sequenza == biglietti::SequenzaSingola ? QStringLiteral("Numerazione unica")
                                                  : QStringLiteral("Postazione %1").arg(sequenza);
}

void leggiServizi(const QString& fileImpostazioni, OpzioniWeb& o) {
    QSettings s(fileImpostazioni, QSettings::IniFormat);
    o.servizi.clear();
    for (int q = 1; q <= biglietti::SequenzaSingola; ++q)
        o.servizi << s.value(QStringLiteral("Servizi/P%1").arg(q)).toString().trimmed().left(60);
}

QStringList leggiLimiti(const QString& fileImpostazioni, OpzioniWeb& o) {
    QStringList errate;
    QSettings s(fileImpostazioni, QSettings::IniFormat);
    auto leggi = [&](const char* chiave, auto& valore, double minimo, double massimo) {
        const QString nome = QStringLiteral("Web/") + QLatin1String(chiave);
        if (!s.contains(nome))
            return;
        bool ok = false;
        const double v = s.value(nome).toString().trimmed().toDouble(&ok);
        if (ok && v >= minimo && v <= massimo)
            valore = static_cast<std::remove_reference_t<decltype(valore)>>(v);
        else
            errate << nome;
    };
    leggi("MassimoConnessioni", o.massimoConnessioni, 10, 20000);
    leggi("FlussiPerIndirizzo", o.flussiPerIndirizzo, 0, 20000);
    leggi("RichiesteAlSecondo", o.richiesteAlSecondo, 0.1, 100000);
    leggi("Raffica", o.raffica, 1, 100000);
    return errate;
}

class ServerWeb::Dentro {
public:
    Dentro(const QString& cartella, Quadro& quadro, OpzioniWeb o)
        : m_cartella(cartella), m_quadro(quadro), m_o(std::move(o)),
          m_frequenza(m_o.richiesteAlSecondo, m_o.raffica) {
        caricaRisorseWeb();
        m_dopo = std::to_string(
            std::max(1, int(std::ceil(1.0 / std::max(m_o.richiesteAlSecondo, 0.001)))));
        m_html = testoRisorsa(QStringLiteral(":/web/tabellone.html"));
        m_js = testoRisorsa(QStringLiteral(":/web/tabellone.js"));
        m_css = testoRisorsa(QStringLiteral(":/web/tabellone.css"));
        m_htmlBiglietto = testoRisorsa(QStringLiteral(":/web/biglietto.html"));
        m_jsBiglietto = testoRisorsa(QStringLiteral(":/web/biglietto.js"));
        m_cssBiglietto = testoRisorsa(QStringLiteral(":/web/biglietto.css"));
        prepara();
    }

    void prepara();
    void impostaLimiti();
    httplib::Server::HandlerResponse ammetti(const httplib::Request& req, httplib::Response& res);
    void instrada();
    void stato(const httplib::Request& req, httplib::Response& res);
    void eventi(const httplib::Request& req, httplib::Response& res);
    // One event stream: the last event it sent, and whether its first chunk went.
    struct Flusso {
        qint64 ultimo = 0;
        bool primo = true;
    };
    bool apriFlusso(const std::string& indirizzo);
    void chiudiFlusso(const std::string& indirizzo);
    std::optional<std::string> pezzoFlusso(Flusso& f);
    QByteArray leggiStato(bool nominativi, qint64 ultimo, int& codice);
    void annuncio(const httplib::Request& req, httplib::Response& res);
    void biglietto(const httplib::Request& req, httplib::Response& res, bool json);
    void risorsa(const char* percorso, const std::string& testo, const char* tipo);

    QString m_cartella;
    Quadro& m_quadro;
    OpzioniWeb m_o;
    httplib::Server m_http;
    std::thread m_thread;
    std::atomic<int> m_connessioni{0};
    std::atomic<int> m_flussi{0};
    std::atomic<bool> m_fermo{false};
    std::atomic<bool> m_finito{false}; // the listener has returned
    int m_porta = -1;
    Frequenza m_frequenza;
    std::mutex m_mutexFlussi;
    std::map<std::string, int> m_flussiPerIndirizzo;
    std::string m_html, m_js, m_css;
    std::string m_htmlBiglietto, m_jsBiglietto, m_cssBiglietto;
    std::string m_dopo; // seconds until one more request is admitted
    // The state read last, kept for a moment: many pages asking at once read the archive once.
    std::mutex m_mutexLettura; // one archive read at a time
    std::mutex m_mutexStato;   // the states kept
    struct Letto {
        QByteArray json;
        int codice = 0;
        qint64 ultimo = 0;
        Clock::time_point quando;
    };
    std::optional<Letto> m_stato[2];
    // The announcements made, the most recent last (the voice speaks for one thread at a time).
    std::mutex m_mutexVoce;
    std::deque<std::pair<std::pair<int, qint32>, std::shared_ptr<const std::string>>> m_annunci;
};

namespace {
// The text of a refusal or failure the server answers by itself.
const char* testoErrore(int status) {
    switch (status) {
    case 404:
        return "Pagina inesistente.";
    case 400:
        return "Richiesta non valida.";
    case 405:
        return "Metodo non ammesso.";
    case 413:
        return "Richiesta troppo grande.";
    case 414:
        return "Indirizzo troppo lungo.";
    case 431:
        return "Troppe intestazioni.";
    case 429:
        return "Troppe richieste: riprovare tra poco.";
    case 503:
        return "Servizio non disponibile.";
    default:
        return "Errore.";
    }
}
} // namespace

void ServerWeb::Dentro::prepara() {
    impostaLimiti();
    m_http.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return ammetti(req, res); });
    m_http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(std::string(testoErrore(res.status)) + "\n",
                            "text/plain; charset=utf-8");
    });
    m_http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res.status = 500;
            res.set_content("Errore interno.\n", "text/plain; charset=utf-8");
        });
    instrada();
}

// The bounds of the connections: how many at once, their timeouts, the body's size; and the
// headers every answer carries.
void ServerWeb::Dentro::impostaLimiti() {
    auto& h = m_http;
    h.new_task_queue = [this] {
        return new CodaConnessioni(m_o.massimoConnessioni, m_connessioni);
    };
    h.set_read_timeout(m_o.timeoutLetturaMs / 1000, (m_o.timeoutLetturaMs % 1000) * 1000);
    h.set_write_timeout(m_o.timeoutScritturaMs / 1000, (m_o.timeoutScritturaMs % 1000) * 1000);
    h.set_keep_alive_timeout(m_o.timeoutInattivoS);
    h.set_keep_alive_max_count(100);
    h.set_payload_max_length(m_o.massimoCorpo);
    h.set_tcp_nodelay(true);
    h.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                           {"X-Frame-Options", "DENY"},
                           {"Content-Security-Policy", PoliticaContenuti},
                           {"Referrer-Policy", "no-referrer"},
                           {"Cache-Control", "no-store"}});
}

// Before any page: only GET and HEAD, no body, a bounded number of headers, and each address
// within its request rate (the loopback too when so configured).
httplib::Server::HandlerResponse ServerWeb::Dentro::ammetti(const httplib::Request& req,
                                                            httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
        res.status = 405;
        res.set_header("Allow", "GET, HEAD");
        return httplib::Server::HandlerResponse::Handled;
    }
    if (!req.body.empty() || req.has_header("Content-Length") ||
        req.has_header("Transfer-Encoding")) {
        // No page takes a body.
        res.status = 400;
        return httplib::Server::HandlerResponse::Handled;
    }
    if (req.headers.size() > MassimoIntestazioni) {
        res.status = 431;
        return httplib::Server::HandlerResponse::Handled;
    }
    if ((m_o.limitaLoopback || !loopback(req.remote_addr)) &&
        !m_frequenza.ammessa(req.remote_addr)) {
        res.status = 429;
        res.set_header("Retry-After", m_dopo);
        return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

// The pages, their resources and the API.
void ServerWeb::Dentro::instrada() {
    auto& h = m_http;
    h.Get("/", [](const httplib::Request& req, httplib::Response& res) {
        if (!req.params.empty()) {
            res.status = 400;
            return;
        }
        res.set_redirect("/tabellone", 302);
    });
    h.Get("/tabellone", [this](const httplib::Request& req, httplib::Response& res) {
        if (!parametriValidi(req, {"postazioni", "nominativi", "audio"})) {
            res.status = 400;
            return;
        }
        res.set_content(m_html, "text/html; charset=utf-8");
    });
    risorsa("/risorse/tabellone\\.js", m_js, "text/javascript; charset=utf-8");
    risorsa("/risorse/tabellone\\.css", m_css, "text/css; charset=utf-8");
    risorsa("/risorse/biglietto\\.js", m_jsBiglietto, "text/javascript; charset=utf-8");
    risorsa("/risorse/biglietto\\.css", m_cssBiglietto, "text/css; charset=utf-8");
    h.Get("/biglietto/([^/]*)", [this](const httplib::Request& req, httplib::Response& res) {
        biglietto(req, res, false);
    });
    h.Get("/api/biglietto/([^/]*)", [this](const httplib::Request& req, httplib::Response& res) {
        biglietto(req, res, true);
    });
    h.Get("/api/stato",
          [this](const httplib::Request& req, httplib::Response& res) { stato(req, res); });
    h.Get("/api/eventi",
          [this](const httplib::Request& req, httplib::Response& res) { eventi(req, res); });
    h.Get("/api/annuncio",
          [this](const httplib::Request& req, httplib::Response& res) { annuncio(req, res); });
}

void ServerWeb::Dentro::risorsa(const char* percorso, const std::string& testo, const char* tipo) {
    m_http.Get(percorso, [&testo, tipo](const httplib::Request& req, httplib::Response& res) {
        if (!req.params.empty()) {
            res.status = 400;
            return;
        }
        res.set_content(testo, tipo);
    });
}

// The customer's ticket: the page (which then reads the JSON and follows the event stream), or
// the JSON. A code of the wrong form is refused before it is looked up.
void ServerWeb::Dentro::biglietto(const httplib::Request& req, httplib::Response& res, bool json) {
    const QString codice = QString::fromStdString(req.matches[1].str());
    if (!req.params.empty() || !registro::formaCodice(codice)) {
        res.status = 400;
        return;
    }
    const qint64 ultimo = m_quadro.ultimo();
    const std::optional<StatoBiglietto> s = m_quadro.biglietto(codice);
    if (!s) {
        res.status = 404;
        if (!json)
            res.set_content("<!DOCTYPE html><html lang=\"it\"><head><meta charset=\"utf-8\">"
                            "<meta name=\"viewport\" content=\"width=device-width, "
                            "initial-scale=1\"><title>Biglietto</title><link rel=\"stylesheet\" "
                            "href=\"/risorse/biglietto.css\"></head><body><main><p "
                            "class=\"avviso\">Biglietto non trovato. Se l'ha appena preso, "
                            "riprovi tra qualche secondo.</p></main></body></html>\n",
                            "text/html; charset=utf-8");
        return;
    }
    if (!json) {
        res.set_content(m_htmlBiglietto, "text/html; charset=utf-8");
        return;
    }
    QJsonObject o;
    o.insert(QStringLiteral("numero"), s->numero);
    o.insert(QStringLiteral("sequenza"), s->sequenza);
    o.insert(QStringLiteral("servizio"), nomeServizio(m_o, s->sequenza));
    o.insert(QStringLiteral("fase"), s->fase == StatoBiglietto::Fase::Chiamato   ? "chiamato"
                                     : s->fase == StatoBiglietto::Fase::Superato ? "superato"
                                                                                 : "attesa");
    o.insert(QStringLiteral("davanti"), s->davanti);
    if (s->fase == StatoBiglietto::Fase::Chiamato)
        o.insert(QStringLiteral("postazione"), s->postazione);
    if (s->attesaS && s->fase == StatoBiglietto::Fase::Attesa)
        o.insert(QStringLiteral("attesa"), testoAttesa(*s->attesaS));
    o.insert(QStringLiteral("ultimoEvento"), ultimo);
    res.set_content(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json; charset=utf-8");
}

QByteArray ServerWeb::Dentro::leggiStato(bool nominativi, qint64 ultimo, int& codice) {
    QJsonObject o;
    const QDateTime ora = QDateTime::currentDateTime();
    o.insert(QStringLiteral("ora"),
             ora.toOffsetFromUtc(ora.offsetFromUtc()).toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("ultimoEvento"), ultimo);
    QJsonArray chiamate;
    for (const registro::Evento& e : m_quadro.ultimeChiamate())
        chiamate.append(QJsonDocument::fromJson(jsonEvento(e)).object());
    o.insert(QStringLiteral("ultimeChiamate"), chiamate);
    try {
        const LettoreArchivio lettore(m_cartella);
        const Assegnazioni a = lettore.leggiAssegnazioni(nominativi);
        const RecordsDisplay d = lettore.leggiDisplay();
        const RecordsSingoli s = lettore.leggiSingoli();
        const registro::Contatori c = registro::leggiContatori(m_cartella);
        const biglietti::Regole r = registro::leggiRegole(m_cartella);
        QJsonArray postazioni;
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
            QJsonObject p;
            const bool singola = a[n - 1].singola;
            qint32 numero = 0;
            int stato = nomi::StatoAssente;
            const GuastoRecord* g = nullptr;
            if (singola) {
                numero = s[n - 1].numero;
                stato = numero > 0 ? nomi::StatoInCorso : nomi::StatoAssente;
                g = &s[n - 1].guasto;
            } else {
                numero = d[n - 1].numero;
                stato = d[n - 1].stato;
                if (numero == 0 || (stato != nomi::StatoAttesa && stato != nomi::StatoInCorso))
                    stato = nomi::StatoAssente;
                g = &d[n - 1].guasto;
            }
            p.insert(QStringLiteral("postazione"), n);
            p.insert(QStringLiteral("numero"), numero);
            p.insert(QStringLiteral("stato"), stato);
            p.insert(QStringLiteral("testoStato"), stato == nomi::StatoInCorso ? nomi::TestoInCorso
                                                   : stato == nomi::StatoAttesa
                                                       ? nomi::TestoAttesa
                                                       : nomi::TestoAssente);
            p.insert(QStringLiteral("singola"), singola);
            if (nominativi)
                p.insert(QStringLiteral("nominativo"), a[n - 1].nominativo);
            if (g->numero != 0)
                p.insert(QStringLiteral("guasto"), g->testo);
            postazioni.append(p);
        }
        o.insert(QStringLiteral("postazioni"), postazioni);
        QJsonArray attesa;
        for (int q = 1; q <= nomi::NumeroSequenze; ++q) {
            const qint32 chiamato =
                q == biglietti::SequenzaSingola ? m_quadro.ultimaSingola() : d[q - 1].numero;
            QJsonObject x;
            x.insert(QStringLiteral("sequenza"), q);
            x.insert(QStringLiteral("ultimoBiglietto"), c[q - 1]);
            x.insert(QStringLiteral("persone"),
                     biglietti::personeInAttesa(c[q - 1], chiamato, r.perSequenza(q)));
            attesa.append(x);
        }
        o.insert(QStringLiteral("inAttesa"), attesa);
        codice = 200;
    } catch (const ErroreQvr& e) {
        o.insert(QStringLiteral("errore"),
                 QStringLiteral("Archivio non leggibile: %1").arg(e.testoCompleto()));
        codice = 503;
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void ServerWeb::Dentro::stato(const httplib::Request& req, httplib::Response& res) {
    if (!parametriValidi(req, {"nominativi"})) {
        res.status = 400;
        return;
    }
    const bool nominativi = req.get_param_value("nominativi") == "1";
    const int i = nominativi ? 1 : 0;
    auto rispondi = [&](const Letto& l) {
        res.status = l.codice;
        res.set_content(l.json.toStdString(), "application/json; charset=utf-8");
    };
    // Read again after 250 ms, or at once when an event came since.
    auto fresco = [&](const std::optional<Letto>& l) {
        return l && Clock::now() - l->quando <= std::chrono::milliseconds(250) &&
               l->ultimo == m_quadro.ultimo();
    };
    std::unique_lock lettura(m_mutexLettura, std::try_to_lock);
    {
        std::lock_guard c(m_mutexStato);
        // Fresh, or another request is reading the archive (a share slow to answer): the last
        // state, rather than one more thread waiting on the share.
        if (m_stato[i] && (fresco(m_stato[i]) || !lettura.owns_lock())) {
            rispondi(*m_stato[i]);
            return;
        }
    }
    if (!lettura.owns_lock())
        lettura.lock();
    Letto nuovo;
    nuovo.quando = Clock::now();
    nuovo.ultimo = m_quadro.ultimo();
    nuovo.json = leggiStato(nominativi, nuovo.ultimo, nuovo.codice);
    rispondi(nuovo);
    std::lock_guard c(m_mutexStato);
    m_stato[i] = std::move(nuovo);
}

// The sound of a call: chime and voice, as the board speaks it. Only for a call the journal's
// recent events hold, so that no one can keep the voice busy with numbers never called.
void ServerWeb::Dentro::annuncio(const httplib::Request& req, httplib::Response& res) {
    if (!parametriValidi(req, {"postazione", "numero"}) || !req.has_param("postazione") ||
        !req.has_param("numero")) {
        res.status = 400;
        return;
    }
    const int postazione = std::stoi(req.get_param_value("postazione"));
    const qint32 numero = qint32(std::stol(req.get_param_value("numero")));
    if (!m_quadro.chiamataTenuta(postazione, numero)) {
        res.status = 404;
        return;
    }
    std::shared_ptr<const std::string> suono;
    {
        std::lock_guard l(m_mutexVoce);
        const std::pair chiave{postazione, numero};
        for (const auto& [k, v] : m_annunci)
            if (k == chiave)
                suono = v;
        if (!suono) {
            suono = std::make_shared<const std::string>(
                wav(tabellone::Voce::annuncio(postazione, numero)));
            m_annunci.emplace_back(chiave, suono);
            if (m_annunci.size() > 32)
                m_annunci.pop_front();
        }
    }
    res.set_content(*suono, "audio/wav");
}

void ServerWeb::Dentro::eventi(const httplib::Request& req, httplib::Response& res) {
    if (!parametriValidi(req, {"dal"})) {
        res.status = 400;
        return;
    }
    // Where to start: the browser's own reconnection sends Last-Event-ID, a page that reopens
    // the stream itself gives ?dal=; neither: from now on.
    std::optional<qint64> dal;
    if (req.has_param("dal"))
        dal = intero(req.get_param_value("dal"), 0, std::numeric_limits<qint64>::max() / 2);
    else if (req.has_header("Last-Event-ID")) {
        dal = intero(req.get_header_value("Last-Event-ID"), 0,
                     std::numeric_limits<qint64>::max() / 2);
        if (!dal) {
            res.status = 400;
            return;
        }
    }
    const std::string indirizzo = req.remote_addr;
    if (!apriFlusso(indirizzo)) {
        res.status = 429;
        res.set_header("Retry-After", "5");
        return;
    }
    auto f = std::make_shared<Flusso>();
    f->ultimo = dal.value_or(m_quadro.ultimo());
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, f](size_t, httplib::DataSink& sink) {
            const std::optional<std::string> fuori = pezzoFlusso(*f);
            return fuori && sink.write(fuori->data(), fuori->size());
        },
        [this, indirizzo](bool) { chiudiFlusso(indirizzo); });
}

// One more stream for `indirizzo`, unless it holds as many as it may already.
bool ServerWeb::Dentro::apriFlusso(const std::string& indirizzo) {
    std::lock_guard l(m_mutexFlussi);
    int& n = m_flussiPerIndirizzo[indirizzo];
    if (m_o.flussiPerIndirizzo > 0 && (m_o.limitaLoopback || !loopback(indirizzo)) &&
        n >= m_o.flussiPerIndirizzo) {
        if (n == 0)
            m_flussiPerIndirizzo.erase(indirizzo);
        return false;
    }
    ++n;
    ++m_flussi;
    return true;
}

void ServerWeb::Dentro::chiudiFlusso(const std::string& indirizzo) {
    std::lock_guard l(m_mutexFlussi);
    auto it = m_flussiPerIndirizzo.find(indirizzo);
    if (it != m_flussiPerIndirizzo.end() && --it->second <= 0)
        m_flussiPerIndirizzo.erase(it);
    --m_flussi;
}

// The stream's next chunk: the events after its last one, waiting up to a heartbeat for one;
// a heartbeat when none came. Nothing once the server stops.
std::optional<std::string> ServerWeb::Dentro::pezzoFlusso(Flusso& f) {
    if (m_fermo)
        return std::nullopt;
    std::string fuori;
    if (f.primo) {
        fuori += "retry: 1000\n\n";
        f.primo = false;
    }
    std::vector<EventoWeb> v;
    bool continua = m_quadro.dopo(f.ultimo, v, 500);
    if (continua && v.empty() && fuori.empty()) {
        m_quadro.attendi(f.ultimo, Clock::now() + std::chrono::milliseconds(m_o.battitoMs));
        if (m_fermo)
            return std::nullopt;
        continua = m_quadro.dopo(f.ultimo, v, 500);
    }
    if (!continua) {
        // The client missed more than is held, or comes from another journal: it reads the
        // state again and goes on from the last event.
        f.ultimo = m_quadro.ultimo();
        fuori += "event: riallinea\ndata: {\"ultimoEvento\":" + std::to_string(f.ultimo) + "}\n\n";
    }
    for (const EventoWeb& e : v) {
        fuori += "id: " + std::to_string(e.seq) + "\ndata: ";
        fuori.append(e.json->constData(), size_t(e.json->size()));
        fuori += "\n\n";
        f.ultimo = e.seq;
    }
    if (fuori.empty())
        fuori = "event: battito\ndata: " + std::to_string(f.ultimo) + "\n\n";
    return fuori;
}

ServerWeb::ServerWeb(const QString& cartella, Quadro& quadro, OpzioniWeb opzioni)
    : d(std::make_unique<Dentro>(cartella, quadro, std::move(opzioni))) {}

ServerWeb::~ServerWeb() {
    ferma();
}

std::optional<QString> ServerWeb::avvia() {
    const std::string host = d->m_o.indirizzo.toStdString();
    errno = 0;
    int porta = d->m_o.porta;
    bool legato = false;
    if (porta == 0) {
        porta = d->m_http.bind_to_any_port(host);
        legato = porta > 0;
    } else {
        legato = d->m_http.bind_to_port(host, porta);
    }
    if (!legato) {
        const int e = errno;
        return QStringLiteral("Impossibile ascoltare su %1:%2 (errore %3: %4)")
            .arg(d->m_o.indirizzo)
            .arg(d->m_o.porta)
            .arg(e)
            .arg(QString::fromLocal8Bit(std::strerror(e)));
    }
    d->m_porta = porta;
    d->m_thread = std::thread([this] {
        d->m_http.listen_after_bind();
        d->m_finito = true;
    });
    // Until it listens: a stop() before that would not be seen by the listener.
    while (!d->m_http.is_running() && !d->m_finito)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (d->m_finito) {
        d->m_thread.join();
        return QStringLiteral("Impossibile ascoltare su %1:%2").arg(d->m_o.indirizzo).arg(porta);
    }
    return std::nullopt;
}

void ServerWeb::ferma() {
    if (!d->m_thread.joinable())
        return;
    d->m_fermo = true;
    d->m_quadro.svegliaTutti();
    d->m_http.stop();
    d->m_thread.join();
}

int ServerWeb::porta() const {
    return d->m_porta;
}

int ServerWeb::connessioniAperte() const {
    return d->m_connessioni.load();
}

int ServerWeb::flussiAperti() const {
    return d->m_flussi.load();
}

} // namespace qvr::web
