// The web server's HTTP layer against bad and hostile clients, through raw sockets (so that no
// client library tidies a path or a header first): paths and queries, oversized requests, the
// request rate, the connection limit with idle connections, a client that never reads, and the
// event stream's replay from an event id. The server listens on 127.0.0.1, port 0, read back.
#include "archive/crea_archivio.h"
#include "registro/codice_biglietto.h"
#include "registro/deposito.h"
#include "server/web/server_web.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qvr;
using namespace qvr::web;

namespace {

registro::Evento chiamata(qint64 seq, int postazione, qint32 numero) {
    registro::Evento e = registro::evento(registro::Tipo::Chiamata, QDateTime::currentDateTime());
    e.seq = seq;
    e.postazione = postazione;
    e.numero = numero;
    return e;
}

registro::Evento biglietto(qint64 seq, int sequenza, qint32 numero) {
    registro::Evento e = registro::evento(registro::Tipo::Biglietto, QDateTime::currentDateTime());
    e.seq = seq;
    e.sequenza = sequenza;
    e.numero = numero;
    e.codice = registro::codiceBiglietto("chiave di prova", e.data(), sequenza, numero);
    return e;
}

int connetti(int porta, int bufferRicezione = 0) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bufferRicezione > 0)
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bufferRicezione, sizeof bufferRicezione);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(porta));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// Reads from `s` until `fine` appears in what came, the peer closes, or `ms` pass.
QByteArray leggi(int s, int ms, const QByteArray& fine = {}) {
    QByteArray r;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && (fine.isEmpty() || !r.contains(fine))) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(1, ms - t.elapsed()))) <= 0)
            continue;
        char b[8192];
        const ssize_t n = ::recv(s, b, sizeof b, 0);
        if (n <= 0)
            break;
        r.append(b, n);
    }
    return r;
}

// One request on a connection of its own; the whole answer (the server closes).
QByteArray scambia(int porta, const QByteArray& richiesta, int ms = 10000) {
    const int s = connetti(porta);
    if (s < 0)
        return {};
    ::send(s, richiesta.constData(), size_t(richiesta.size()), MSG_NOSIGNAL);
    const QByteArray r = leggi(s, ms);
    ::close(s);
    return r;
}

QByteArray get(const QByteArray& bersaglio, const QByteArray& altro = {}) {
    return "GET " + bersaglio + " HTTP/1.1\r\nHost: prova\r\nConnection: close\r\n" + altro +
           "\r\n";
}

int codice(const QByteArray& risposta) {
    return risposta.startsWith("HTTP/1.1 ") ? risposta.mid(9, 3).toInt() : -1;
}

// What a refused request reads in the answer's body: the refusal in Italian, as plain text.
QByteArray testoRifiuto(int codice) {
    static const QHash<int, QByteArray> testi{{400, "Richiesta non valida."},
                                              {404, "Pagina inesistente."},
                                              {405, "Metodo non ammesso."},
                                              {414, "Indirizzo troppo lungo."},
                                              {429, "Troppe richieste: riprovare tra poco."},
                                              {431, "Troppe intestazioni."}};
    return testi.value(codice) + '\n';
}
void verificaRifiuto(const QByteArray& risposta, int atteso) {
    QCOMPARE(codice(risposta), atteso);
    QVERIFY2(risposta.contains("Content-Type: text/plain; charset=utf-8\r\n"),
             risposta.left(300).constData());
    QCOMPARE(risposta.mid(risposta.indexOf("\r\n\r\n") + 4), testoRifiuto(atteso));
}

// An archive, the journal's events and the server on a free port, with short timeouts.
struct Banco {
    explicit Banco(OpzioniWeb o = opzioniProva(), size_t massimoEventi = Quadro::MassimoEventi)
        : quadro(massimoEventi) {
        creaArchivio(dir.filePath(QStringLiteral("archivio")));
        server = std::make_unique<ServerWeb>(dir.filePath(QStringLiteral("archivio")), quadro, o);
        const auto errore = server->avvia();
        if (errore)
            qFatal("%s", qPrintable(*errore));
    }
    static OpzioniWeb opzioniProva() {
        OpzioniWeb o;
        o.indirizzo = QStringLiteral("127.0.0.1");
        o.porta = 0;
        o.timeoutLetturaMs = 1000;
        o.timeoutScritturaMs = 1000;
        o.timeoutInattivoS = 1;
        o.battitoMs = 200;
        o.richiesteAlSecondo = 1000;
        o.raffica = 1000;
        o.limitaLoopback = true; // the tests' clients come from 127.0.0.1
        return o;
    }
    int porta() const { return server->porta(); }

    QTemporaryDir dir;
    Quadro quadro;
    std::unique_ptr<ServerWeb> server;
};

} // namespace

class TestWeb : public QObject {
    Q_OBJECT
private slots:
    void percorsiEParametri_data();
    void percorsiEParametri();
    void richiesteTroppoGrandi();
    void frequenzaPerIndirizzo();
    void connessioniMassimeEInattive();
    void clienteCheNonLegge();
    void flussoRiprendeDalNumero();
    void statoDellArchivio();
    void indirizzoDiAscolto();
    void annuncioSoloDiChiamateTenute();
    void caricaSoloOggi();
    void codiceDelBiglietto_data();
    void codiceDelBiglietto();
    void bigliettoChiamato();
};

void TestWeb::percorsiEParametri_data() {
    QTest::addColumn<QByteArray>("richiesta");
    QTest::addColumn<int>("atteso");
    QTest::newRow("radice") << get("/") << 302;
    QTest::newRow("tabellone") << get("/tabellone") << 200;
    QTest::newRow("opzioni") << get("/tabellone?postazioni=1,2,10&nominativi=1") << 200;
    QTest::newRow("postazione 11") << get("/tabellone?postazioni=1,11") << 400;
    QTest::newRow("postazione vuota") << get("/tabellone?postazioni=1,,2") << 400;
    QTest::newRow("nominativi 2") << get("/tabellone?nominativi=2") << 400;
    QTest::newRow("parametro due volte") << get("/tabellone?nominativi=1&nominativi=0") << 400;
    QTest::newRow("parametro ignoto") << get("/api/stato?x=1") << 400;
    QTest::newRow("radice con parametri") << get("/?a") << 400;
    QTest::newRow("dal negativo") << get("/api/eventi?dal=-1") << 400;
    QTest::newRow("dal non numero") << get("/api/eventi?dal=1e3") << 400;
    QTest::newRow("dal enorme") << get("/api/eventi?dal=99999999999999999999") << 400;
    QTest::newRow("Last-Event-ID non numero")
        << get("/api/eventi", "Last-Event-ID: 12; DROP\r\n") << 400;
    QTest::newRow("sconosciuto") << get("/nonesiste") << 404;
    QTest::newRow("barra finale") << get("/tabellone/") << 404;
    QTest::newRow("risalita") << get("/risorse/../../etc/passwd") << 404;
    QTest::newRow("risalita codificata") << get("/risorse/%2e%2e/%2e%2e/etc/passwd") << 404;
    QTest::newRow("byte nullo") << get("/tabellone%00.js") << 404;
    QTest::newRow("script") << get("/risorse/tabellone.js") << 200;
    QTest::newRow("POST") << QByteArray("POST /api/stato HTTP/1.1\r\nHost: p\r\nConnection: "
                                        "close\r\nContent-Length: 2\r\n\r\n{}")
                          << 405;
    QTest::newRow("DELETE") << QByteArray("DELETE / HTTP/1.1\r\nHost: p\r\n\r\n") << 405;
    QTest::newRow("riga rotta") << QByteArray("GET\r\n\r\n") << 400;
    QTest::newRow("versione ignota") << QByteArray("GET / HTTP/9.9\r\n\r\n") << 400;
}

void TestWeb::percorsiEParametri() {
    static Banco b;
    QFETCH(QByteArray, richiesta);
    QFETCH(int, atteso);
    const QByteArray r = scambia(b.porta(), richiesta);
    QCOMPARE(codice(r), atteso);
    if (atteso >= 400)
        verificaRifiuto(r, atteso);
    // Every answer, errors included, forbids framing and sniffing and outside sources.
    QVERIFY(r.contains("X-Content-Type-Options: nosniff\r\n"));
    QVERIFY(r.contains("X-Frame-Options: DENY\r\n"));
    QVERIFY(r.contains("Content-Security-Policy: default-src 'none'; script-src 'self';"));
    QVERIFY(r.contains("frame-ancestors 'none'"));
    QVERIFY(!r.contains("http://") && !r.contains("https://"));
}

void TestWeb::richiesteTroppoGrandi() {
    Banco b;
    const QByteArray lunga(20000, 'a');
    verificaRifiuto(scambia(b.porta(), get("/" + lunga)), 414);
    QCOMPARE(codice(scambia(b.porta(), get("/api/stato", "X-Lungo: " + lunga + "\r\n"))), 400);
    QByteArray molte;
    for (int i = 0; i < 2000; ++i)
        molte += "X-" + QByteArray::number(i) + ": 1\r\n";
    verificaRifiuto(scambia(b.porta(), get("/api/stato", molte)), 431);
    // A body where none is taken, large or small, refused before it is read.
    QCOMPARE(codice(scambia(b.porta(), get("/api/stato", "Content-Length: 100000000\r\n"))), 400);
    QCOMPARE(codice(scambia(b.porta(), "POST /api/stato HTTP/1.1\r\nHost: p\r\nContent-Length: "
                                       "100000000\r\n\r\n" +
                                           QByteArray(100000, 'x'))),
             405);
    QCOMPARE(codice(scambia(b.porta(), get("/api/stato", "Content-Length: 2\r\n") + "{}")), 400);
    QCOMPARE(codice(scambia(b.porta(), get("/api/stato"))), 200);
}

void TestWeb::frequenzaPerIndirizzo() {
    OpzioniWeb o = Banco::opzioniProva();
    o.richiesteAlSecondo = 0.5;
    o.raffica = 5;
    Banco b(o);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(codice(scambia(b.porta(), get("/tabellone"))), 200);
    const QByteArray r = scambia(b.porta(), get("/tabellone"));
    verificaRifiuto(r, 429);
    QVERIFY(r.contains("Retry-After: 2\r\n"));
    // Tokens come back with time: one every 2 s.
    QElapsedTimer t;
    t.start();
    int c = 429;
    while (c == 429 && t.elapsed() < 15000) {
        QTest::qWait(100);
        c = codice(scambia(b.porta(), get("/tabellone")));
    }
    QCOMPARE(c, 200);
    QVERIFY2(t.elapsed() >= 1000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(codice(scambia(b.porta(), get("/tabellone"))), 429);
}

void TestWeb::connessioniMassimeEInattive() {
    OpzioniWeb o = Banco::opzioniProva();
    o.massimoConnessioni = 3;
    Banco b(o);
    // Three connections that send nothing, one that sends half a request: all taken.
    std::vector<int> mute;
    for (int i = 0; i < 3; ++i)
        mute.push_back(connetti(b.porta()));
    QTRY_COMPARE(b.server->connessioniAperte(), 3);
    const int mezza = connetti(b.porta());
    ::send(mezza, "GET /tabel", 10, MSG_NOSIGNAL);
    // The one beyond waits for a place; the read timeout frees them, then it is served.
    const int quinta = connetti(b.porta());
    ::send(quinta, get("/tabellone").constData(), size_t(get("/tabellone").size()), MSG_NOSIGNAL);
    QElapsedTimer t;
    t.start();
    const QByteArray r = leggi(quinta, 15000, "</html>");
    QCOMPARE(codice(r), 200);
    QVERIFY2(t.elapsed() >= 300, qPrintable(QString::number(t.elapsed())));
    QVERIFY(b.server->connessioniAperte() <= 3);
    for (int s : mute)
        QCOMPARE(leggi(s, 5000), QByteArray()); // closed without an answer
    for (int s : mute)
        ::close(s);
    ::close(mezza);
    ::close(quinta);
    QTRY_COMPARE_WITH_TIMEOUT(b.server->connessioniAperte(), 0, 10000);
}

void TestWeb::clienteCheNonLegge() {
    Banco b;
    std::vector<registro::Evento> v;
    for (int i = 1; i <= 20000; ++i)
        v.push_back(chiamata(i, 1 + i % 10, i % 100));
    b.quadro.aggiungi(v);
    // It asks for every event, with a tiny receive buffer, and never reads.
    const int lenta = connetti(b.porta(), 2048);
    const QByteArray rq = get("/api/eventi?dal=0");
    ::send(lenta, rq.constData(), size_t(rq.size()), MSG_NOSIGNAL);
    QTRY_COMPARE(b.server->flussiAperti(), 1);
    // Meanwhile everyone else is served.
    QElapsedTimer t;
    t.start();
    QCOMPARE(codice(scambia(b.porta(), get("/api/stato"))), 200);
    QVERIFY(t.elapsed() < 5000);
    // The write timeout ends it.
    QTRY_COMPARE_WITH_TIMEOUT(b.server->flussiAperti(), 0, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(b.server->connessioniAperte(), 0, 10000);
    ::close(lenta);
}

void TestWeb::flussoRiprendeDalNumero() {
    Banco b(Banco::opzioniProva(), 6);
    std::vector<registro::Evento> v;
    for (int i = 1; i <= 10; ++i)
        v.push_back(chiamata(i, 3, i));
    b.quadro.aggiungi(v); // holds 5..10
    QCOMPARE(b.quadro.ultimo(), qint64(10));

    auto apri = [&](const QByteArray& bersaglio, const QByteArray& altro = {}) {
        const int s = connetti(b.porta());
        const QByteArray rq = get(bersaglio, altro);
        ::send(s, rq.constData(), size_t(rq.size()), MSG_NOSIGNAL);
        return s;
    };
    // From ?dal= and from Last-Event-ID: what came after, in order, then the heartbeat.
    for (const auto& [bersaglio, altro] : std::vector<std::pair<QByteArray, QByteArray>>{
             {"/api/eventi?dal=7", {}}, {"/api/eventi", "Last-Event-ID: 7\r\n"}}) {
        const int s = apri(bersaglio, altro);
        const QByteArray r = leggi(s, 5000, "event: battito");
        ::close(s);
        QVERIFY2(r.contains("Content-Type: text/event-stream"), r.constData());
        const qsizetype a = r.indexOf("id: 8\n"), c = r.indexOf("id: 9\n"),
                        d = r.indexOf("id: 10\n");
        QVERIFY2(a > 0 && a < c && c < d, r.constData());
        QVERIFY(!r.contains("id: 7\n") && !r.contains("riallinea"));
        QVERIFY(r.contains("\"postazione\":3") && r.contains("\"tipo\":\"chiamata\""));
    }
    // Older than what is held, or beyond the last event (a journal started anew): told to read
    // the state again, then the stream goes on from the last event, live.
    for (const QByteArray& dal : {QByteArray("2"), QByteArray("500")}) {
        const int s = apri("/api/eventi?dal=" + dal);
        const QByteArray atteso =
            "event: riallinea\ndata: {\"ultimoEvento\":" + QByteArray::number(b.quadro.ultimo()) +
            "}";
        QVERIFY(leggi(s, 5000, "}\n\n").contains(atteso));
        b.quadro.aggiungi({chiamata(b.quadro.ultimo() + 1, 4, 77)});
        const QByteArray r = leggi(s, 5000, "\"numero\":77");
        QVERIFY2(r.contains("id: " + QByteArray::number(b.quadro.ultimo()) + "\n"), r.constData());
        ::close(s);
    }
    // A batch already held is not given twice.
    b.quadro.aggiungi(v);
    QCOMPARE(b.quadro.ultimo(), qint64(12));
    QCOMPARE(b.quadro.ultimeChiamate().front().numero, 77);
}

void TestWeb::statoDellArchivio() {
    Banco b;
    b.quadro.aggiungi({chiamata(1, 2, 5), chiamata(2, 4, 6)});
    QByteArray r = scambia(b.porta(), get("/api/stato?nominativi=1"));
    QCOMPARE(codice(r), 200);
    QVERIFY(r.contains("Content-Type: application/json"));
    const QJsonObject o = QJsonDocument::fromJson(r.mid(r.indexOf("\r\n\r\n") + 4)).object();
    QCOMPARE(o.value("postazioni").toArray().size(), 10);
    QCOMPARE(o.value("inAttesa").toArray().size(), 11);
    QCOMPARE(o.value("ultimoEvento").toInt(), 2);
    QCOMPARE(o.value("ultimeChiamate").toArray().at(0).toObject().value("postazione").toInt(), 4);
    QVERIFY(o.value("postazioni").toArray().at(0).toObject().contains("nominativo"));
    QCOMPARE(o.value("postazioni").toArray().at(0).toObject().value("testoStato").toString(),
             QStringLiteral("Assente..."));
    // The archive gone: 503 with the Italian message and its number, and the server goes on.
    QVERIFY(QDir(b.dir.filePath(QStringLiteral("archivio"))).removeRecursively());
    QTest::qWait(300); // past the moment the last state is kept for
    r = scambia(b.porta(), get("/api/stato"));
    QCOMPARE(codice(r), 503);
    QVERIFY2(r.contains("Archivio non leggibile: Errore 3"), r.constData());
    QCOMPARE(codice(scambia(b.porta(), get("/tabellone"))), 200);
}

void TestWeb::indirizzoDiAscolto() {
    using P = std::optional<std::pair<QString, int>>;
    QCOMPARE(leggiAscolta(":8080"), P({"0.0.0.0", 8080}));
    QCOMPARE(leggiAscolta("192.168.1.5:80"), P({"192.168.1.5", 80}));
    QCOMPARE(leggiAscolta("[::]:8080"), P({"::", 8080}));
    for (const char* errato : {"8080", "::1:8080", "a:65536", "a:-1", "a:", "a b:80", "a:8o"})
        QVERIFY2(!leggiAscolta(QString::fromLatin1(errato)), errato);
}

void TestWeb::annuncioSoloDiChiamateTenute() {
    Banco b;
    b.quadro.aggiungi({chiamata(1, 3, 57)});
    const QByteArray r = scambia(b.porta(), get("/api/annuncio?postazione=3&numero=57"));
    QCOMPARE(codice(r), 200);
    QVERIFY(r.contains("Content-Type: audio/wav"));
    const QByteArray corpo = r.mid(r.indexOf("\r\n\r\n") + 4);
    QVERIFY(corpo.startsWith("RIFF") && corpo.mid(8, 8) == "WAVEfmt ");
    // The header's sizes are the body's: the whole file after RIFF's, the samples after data's.
    QCOMPARE(qFromLittleEndian<quint32>(corpo.constData() + 4), quint32(corpo.size() - 8));
    QCOMPARE(corpo.mid(36, 4), QByteArray("data"));
    QCOMPARE(qFromLittleEndian<quint32>(corpo.constData() + 40), quint32(corpo.size() - 44));
    // Chime and voice: more than a second at 22,050 Hz, 16 bits.
    QVERIFY2(corpo.size() > 44 + 2 * 22050, qPrintable(QString::number(corpo.size())));
    QCOMPARE(codice(scambia(b.porta(), get("/api/annuncio?postazione=3&numero=58"))), 404);
    QCOMPARE(codice(scambia(b.porta(), get("/api/annuncio?postazione=4&numero=57"))), 404);
    for (const char* q : {"postazione=3", "postazione=0&numero=57", "postazione=3&numero=0",
                          "postazione=3&numero=2147483648", "postazione=3&numero=57&x=1"})
        QCOMPARE(codice(scambia(b.porta(), get(QByteArray("/api/annuncio?") + q))), 400);
}

void TestWeb::codiceDelBiglietto_data() {
    const QByteArray noto = biglietto(1, 3, 7).codice.toLatin1();
    QTest::addColumn<QByteArray>("bersaglio");
    QTest::addColumn<int>("atteso");
    QTest::newRow("pagina") << "/biglietto/" + noto << 200;
    QTest::newRow("dati") << "/api/biglietto/" + noto << 200;
    QTest::newRow("ignoto") << QByteArray("/biglietto/aaaaaaaaaaaaaaaa") << 404;
    QTest::newRow("dati ignoti") << QByteArray("/api/biglietto/aaaaaaaaaaaaaaaa") << 404;
    QTest::newRow("vuoto") << QByteArray("/biglietto/") << 400;
    QTest::newRow("corto") << "/biglietto/" + noto.left(15) << 400;
    QTest::newRow("lungo") << "/biglietto/" + noto + "a" << 400;
    QTest::newRow("maiuscole") << "/biglietto/" + noto.toUpper() << 400;
    QTest::newRow("cifre fuori alfabeto") << QByteArray("/api/biglietto/aaaaaaaaaaaaaaa1") << 400;
    QTest::newRow("codificato") << QByteArray("/biglietto/%61aaaaaaaaaaaaaaa%00") << 400;
    QTest::newRow("enorme") << "/biglietto/" + QByteArray(4000, 'a') << 400;
    QTest::newRow("con parametri") << "/biglietto/" + noto + "?x=1" << 400;
    QTest::newRow("barra in piu") << "/biglietto/" + noto + "/" << 404;
    QTest::newRow("risalita") << QByteArray("/biglietto/../tabellone") << 404;
    QTest::newRow("script") << QByteArray("/risorse/biglietto.js") << 200;
}

void TestWeb::codiceDelBiglietto() {
    static Banco b;
    if (b.quadro.ultimo() == 0)
        b.quadro.aggiungi({biglietto(1, 3, 7)});
    QFETCH(QByteArray, bersaglio);
    const QByteArray r = scambia(b.porta(), get(bersaglio));
    QTEST(codice(r), "atteso");
    QVERIFY(r.contains("Content-Security-Policy: default-src 'none'"));
    QVERIFY(r.contains("X-Frame-Options: DENY\r\n"));
}

void TestWeb::bigliettoChiamato() {
    // Ticket 7 of P3 with one ticket before it; then 6 is called, then 7 at station 3.
    Banco b;
    b.quadro.aggiungi({biglietto(1, 3, 6), biglietto(2, 3, 7), biglietto(3, 1, 1)});
    const QByteArray codice7 = "/api/biglietto/" + biglietto(0, 3, 7).codice.toLatin1();
    auto json = [&] {
        const QByteArray r = scambia(b.porta(), get(codice7));
        return QJsonDocument::fromJson(r.mid(r.indexOf("\r\n\r\n") + 4)).object();
    };
    QJsonObject o = json();
    QCOMPARE(o.value("numero").toInt(), 7);
    QCOMPARE(o.value("servizio").toString(), QStringLiteral("Postazione 3"));
    QCOMPARE(o.value("fase").toString(), QStringLiteral("attesa"));
    QCOMPARE(o.value("davanti").toInt(), 1);
    QVERIFY(!o.contains("attesa")); // no pace yet
    QCOMPARE(o.value("ultimoEvento").toInt(), 3);
    b.quadro.aggiungi({chiamata(4, 3, 6)});
    QCOMPARE(json().value("davanti").toInt(), 0);
    b.quadro.aggiungi({chiamata(5, 3, 7)});
    o = json();
    QCOMPARE(o.value("fase").toString(), QStringLiteral("chiamato"));
    QCOMPARE(o.value("postazione").toInt(), 3);
    // Nothing personal on the page: only the ticket's own facts.
    QCOMPARE(QStringList(o.keys()), QStringList({"davanti", "fase", "numero", "postazione",
                                                 "sequenza", "servizio", "ultimoEvento"}));
    // The settings name the services.
    OpzioniWeb n;
    leggiServizi(QStringLiteral("/nonesiste.ini"), n);
    QCOMPARE(nomeServizio(n, 11), QStringLiteral("Numerazione unica"));
    n.servizi[2] = QStringLiteral("Anagrafe");
    QCOMPARE(nomeServizio(n, 3), QStringLiteral("Anagrafe"));
}

QTEST_GUILESS_MAIN(TestWeb)
void TestWeb::caricaSoloOggi() {
    // The pages start with today's calls from the journal, never with yesterday evening's.
    QTemporaryDir dir;
    const QString archivio = dir.filePath(QStringLiteral("archivio"));
    QVERIFY(QDir().mkpath(archivio));
    {
        const auto d = registro::deposito(archivio);
        d->apriScrittura();
        std::vector<registro::Evento> v{chiamata(0, 2, 40), chiamata(0, 3, 7)};
        v[0].oraUtcMs =
            QDateTime(QDate::currentDate(), QTime(0, 0)).addSecs(-60).toMSecsSinceEpoch();
        d->aggiungi(v);
    }
    Quadro q;
    QCOMPARE(q.carica(archivio), std::nullopt);
    const std::vector<registro::Evento> c = q.ultimeChiamate();
    QCOMPARE(c.size(), size_t(1));
    QCOMPARE(c.front().postazione, 3);
}

#include "test_web.moc"
