// What a call costs on a server archive, next to the least the same server can do for it, in
// one run:
//  - standard numbering: ChiamaProssimo through the archive library (pooled connection, the
//    display record read FOR UPDATE and rewritten in one transaction) against the same four
//    statements (BEGIN, SELECT ... FOR UPDATE, UPDATE, COMMIT) sent with libpq on one open
//    connection, and against a single autocommitted UPDATE (one round trip and one commit);
//  - single numbering: ChiamaSingola (the counter row locked FOR UPDATE NOWAIT, rewritten, the
//    single-numbering record written) against its statements through libpq.
// Prints medians and 99th percentiles and exits 0 whatever the figures (1 only when the server
// cannot be used).
//
// Usage: bench_server [URI of the server, default $QVR_PG_URI] [calls, default 2000]
// A database qvr_bench_<pid> is made on that server and dropped at the end.

#include "statistiche.h"

#include "app/globali.h"
#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/server.h"
#include "console/operazioni.h"

#include <QCoreApplication>

#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using qvr::bench::mediana;
using qvr::bench::percentile;
using Orologio = std::chrono::steady_clock;

[[noreturn]] void muori(const std::string& cosa) {
    std::fprintf(stderr, "bench_server: %s\n", cosa.c_str());
    std::exit(1);
}

std::vector<double> misura(int n, const std::function<void()>& passo) {
    std::vector<double> t;
    t.reserve(n);
    for (int i = 0; i < n / 10; ++i) // warm-up: connections, caches, the server's plans
        passo();
    for (int i = 0; i < n; ++i) {
        const auto t0 = Orologio::now();
        passo();
        t.push_back(std::chrono::duration<double, std::milli>(Orologio::now() - t0).count());
    }
    return t;
}

void stampa(const char* nome, const std::vector<double>& t) {
    std::printf("  %-52s mediana %6.3f ms   99° percentile %6.3f ms\n", nome, mediana(t),
                percentile(t, 0.99));
}

void esegui(PGconn* c, const char* sql) {
    PGresult* r = PQexec(c, sql);
    const ExecStatusType s = PQresultStatus(r);
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK)
        muori(std::string(sql) + ": " + PQerrorMessage(c));
    PQclear(r);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString base =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : qEnvironmentVariable("QVR_PG_URI");
    const int n = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (base.isEmpty() || n < 10)
        muori("indicare l'indirizzo del server (o QVR_PG_URI) e almeno 10 chiamate");
    const QString nomeDb = QStringLiteral("qvr_bench_%1").arg(QCoreApplication::applicationPid());
    const QString uri = qvr::server::uriConDatabase(base, nomeDb);
    try {
        qvr::OpzioniArchivio o;
        o.modi[1] = QStringLiteral("SG");
        qvr::creaArchivio(uri, o, true);
    } catch (const qvr::ErroreQvr& e) {
        muori(e.testoCompleto().toStdString());
    }

    std::printf("Archivio sul server %s, %d chiamate per misura\n",
                qPrintable(qvr::server::uriPerMessaggi(uri)), n);
    qvr::PercorsoArchivi = uri;

    std::printf("Numerazione standard:\n");
    qvr::NumeroPostazione = 1;
    qvr::ModoSingolo = false;
    const auto libreria = misura(n, [] { qvr::operazioni::ChiamaProssimo(false, false); });
    stampa("ChiamaProssimo (libreria, connessione del pool)", libreria);

    PGconn* c = PQconnectdb(uri.toUtf8().constData());
    if (PQstatus(c) != CONNECTION_OK)
        muori(PQerrorMessage(c));
    const auto grezza = misura(n, [c] {
        esegui(c, "BEGIN");
        esegui(c, "SELECT * FROM qvrb.\"NumeriCode1\" ORDER BY qvr_riga LIMIT 1 FOR UPDATE");
        esegui(c, "UPDATE qvrb.\"NumeriCode1\" SET \"NumeroA1\" = \"NumeroA1\" + 1, "
                  "\"StatoN1\" = 3, \"F1\" = 'F' WHERE qvr_riga = 1");
        esegui(c, "COMMIT");
    });
    stampa("stesse 4 istruzioni con libpq, una connessione", grezza);
    const auto minima = misura(n, [c] {
        esegui(c, "UPDATE qvrb.\"NumeriCode1\" SET \"NumeroA1\" = \"NumeroA1\" + 1 WHERE "
                  "qvr_riga = 1");
    });
    stampa("un solo UPDATE con commit (limite del server)", minima);

    std::printf("Numerazione singola:\n");
    qvr::NumeroPostazione = 2;
    qvr::ModoSingolo = true;
    const auto singola = misura(n, [] { qvr::operazioni::ChiamaSingola(false); });
    stampa("ChiamaSingola (libreria)", singola);
    const auto singolaGrezza = misura(n, [c] {
        esegui(c, "BEGIN");
        esegui(c, "SELECT qvr_riga, valore FROM qvr.nr4all ORDER BY qvr_riga LIMIT 1 FOR UPDATE "
                  "NOWAIT");
        esegui(c, "UPDATE qvr.nr4all SET valore = '1' WHERE qvr_riga = 1");
        esegui(c, "COMMIT");
        esegui(c, "BEGIN");
        esegui(c, "SELECT * FROM qvra.\"NumerazioneSingle2\" ORDER BY qvr_riga LIMIT 1 FOR UPDATE");
        esegui(c, "UPDATE qvra.\"NumerazioneSingle2\" SET \"NUMERO\" = 1, \"Stato\" = 3 WHERE "
                  "qvr_riga = 1");
        esegui(c, "COMMIT");
    });
    stampa("stesse istruzioni con libpq, una connessione", singolaGrezza);
    std::printf("Rapporto libreria / libpq: standard %.2f, singola %.2f\n",
                mediana(libreria) / std::max(mediana(grezza), 1e-9),
                mediana(singola) / std::max(mediana(singolaGrezza), 1e-9));
    PQfinish(c);

    qvr::server::chiudiConnessioni();
    PGconn* amm = PQconnectdb(
        qvr::server::uriConDatabase(base, QStringLiteral("postgres")).toUtf8().constData());
    if (PQstatus(amm) == CONNECTION_OK)
        esegui(amm, ("DROP DATABASE " + nomeDb.toStdString() + " WITH (FORCE)").c_str());
    PQfinish(amm);
    return 0;
}
