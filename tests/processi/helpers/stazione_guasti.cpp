// A station that calls without pause, to be killed at a random moment by the fault tests:
//
//   stazione_guasti singola <workdir> <calls>
//       single numbering with the kiosk in use, as the console's call button: the waiting
//       count P11Q read, the draw from Nr4All.txt with its record in QVRA.mdb, the kiosk count
//       refreshed (P11Q written), then the history line.
//   stazione_guasti standard <workdir> <calls>
//       standard numbering: the call button's read and write of the display record in QVRB.mdb,
//       then the history line.
//
//   stazione_guasti a_meta <database> <table>
//       another program's write left half way: in one write transaction it changes the first
//       row of <table> and writes enough else to spill the changed pages into the database file
//       before the commit, prints "pronto" and waits to be killed. The killed transaction leaves
//       a hot journal that the next opener of the database must replay.
//
// <workdir> holds percorsi.txt; the history file Cronologia-NN.txt is written there through the
// console's own Cronologia. <calls> 0 means without end. After each call the number is written
// to stdout, one per line, once the archive holds it. Exits 1 on any error (printed on stderr).

#include "app/globali.h"
#include "archive/errori.h"
#include "console/cronologia.h"
#include "console/operazioni.h"
#include "launcher/percorsi.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <cstdio>

using namespace qvr;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QStringLiteral("a_meta")) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(args.at(2));
        if (!db.open())
            return 1;
        QSqlQuery q(db);
        const QStringList passi = {
            QStringLiteral("PRAGMA cache_size=8"), QStringLiteral("BEGIN IMMEDIATE"),
            QStringLiteral("UPDATE \"%1\" SET NumeroA1=-777 WHERE rowid=(SELECT min(rowid) FROM "
                           "\"%1\")")
                .arg(args.at(3)),
            QStringLiteral("CREATE TABLE zavorra (x)"),
            QStringLiteral("INSERT INTO zavorra WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                           "SELECT i+1 FROM n WHERE i<400) SELECT randomblob(1000) FROM n")};
        for (const QString& passo : passi) {
            if (!q.exec(passo)) {
                std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
                return 1;
            }
        }
        std::printf("pronto\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if (args.size() != 4 ||
        (args.at(1) != QStringLiteral("singola") && args.at(1) != QStringLiteral("standard"))) {
        std::fprintf(stderr, "uso: stazione_guasti singola|standard <cartella di lavoro> "
                             "<chiamate>\n");
        return 1;
    }
    const bool singola = args.at(1) == QStringLiteral("singola");
    if (!QDir::setCurrent(args.at(2))) {
        std::fprintf(stderr, "cartella di lavoro non trovata\n");
        return 1;
    }
    const long long chiamate = args.at(3).toLongLong();
    try {
        LeggiPercorsi();
        NumeroPostazione = PostazioneTesto.toInt();
        TotemInUso = singola;
        ModoSingolo = singola;
        Cronologia cronologia;
        cronologia.apri(QDir::current().filePath(Cronologia::nomeFile(NumeroPostazione)));
        for (long long i = 0; chiamate == 0 || i < chiamate; ++i) {
            qint32 numero = 0;
            if (singola) {
                if (operazioni::valoreNumerico(operazioni::LeggiCodaSingola()) == 0) {
                    std::fprintf(stderr, "nessuno in coda\n");
                    return 1;
                }
                const std::optional<qint32> estratto = operazioni::ChiamaSingolaConCoda(false);
                if (!estratto) {
                    std::fprintf(stderr, "nessuno in coda\n");
                    return 1;
                }
                numero = *estratto;
                operazioni::AggiornaCodaSingola();
            } else {
                operazioni::ChiamaProssimo(false, false);
                numero = NumeroChiamato;
            }
            std::printf("%d\n", numero);
            std::fflush(stdout);
            cronologia.registra(numero);
        }
        return 0;
    } catch (const ErroreQvr& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
