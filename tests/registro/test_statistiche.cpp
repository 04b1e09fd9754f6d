// The figures of the journal, on journals written here, with the answers worked out by hand.
#include "registro/deposito.h"
#include "registro/statistiche.h"

#include "supporto.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace qvr;
using namespace qvr::registro;
using namespace qvr::statistiche;

namespace {

const QDate Primo(2026, 3, 2);

// A journal written as text: tokens "HH:MM[:SS]/EVENT", and "giorno+N" moving to the N-th day
// after the first. EVENT: "b1:5" ticket of P1 number 5, "b11:5" of the shared sequence, "c1:5"
// call of 5 at standard station 1, "r1:5" its recall, "s2:5" call of 5 at station 2 in single
// numbering, "a1:5" wait, "x1" absent, "z1" counter P1 back to 0, "avvio", "arresto",
// "buco" (the archive unreadable), "finebuco", "perdita:N".
std::vector<Evento> giornale(const QString& testo) {
    std::vector<Evento> v;
    QDate giorno = Primo;
    const QTimeZone fuso(3600);
    qint64 seq = 0;
    for (const QString& t : testo.split(u' ', Qt::SkipEmptyParts)) {
        if (t.startsWith(QStringLiteral("giorno+"))) {
            giorno = Primo.addDays(t.mid(7).toInt());
            continue;
        }
        const QStringList parti = t.split(u'/');
        const QTime ora = QTime::fromString(parti[0], parti[0].size() > 5 ? u"HH:mm:ss" : u"HH:mm");
        if (parti.size() != 2 || !ora.isValid())
            qFatal("evento non valido: %s", qPrintable(t));
        const QString ev = parti[1];
        Evento e = evento(Tipo::Biglietto, QDateTime(giorno, ora, fuso));
        e.seq = ++seq;
        const QChar k = ev.at(0);
        const QStringList n = ev.mid(1).split(u':');
        auto numero = [&](int i) { return n.value(i).toInt(); };
        if (ev == QStringLiteral("avvio"))
            e.tipo = Tipo::Avvio;
        else if (ev == QStringLiteral("arresto"))
            e.tipo = Tipo::Arresto;
        else if (ev == QStringLiteral("buco"))
            e.tipo = Tipo::InizioBuco;
        else if (ev == QStringLiteral("finebuco"))
            e.tipo = Tipo::FineBuco;
        else if (ev.startsWith(QStringLiteral("perdita:"))) {
            e.tipo = Tipo::Perdita;
            e.numero = ev.mid(8).toInt();
        } else if (k == u'b') {
            e.sequenza = numero(0);
            e.numero = numero(1);
        } else if (k == u'c' || k == u'r' || k == u's') {
            e.tipo = Tipo::Chiamata;
            e.postazione = numero(0);
            e.numero = numero(1);
            e.singola = k == u's';
            e.richiamo = k == u'r';
            e.sequenza = e.singola ? 11 : e.postazione;
        } else if (k == u'a') {
            e.tipo = Tipo::Attesa;
            e.postazione = numero(0);
            e.numero = numero(1);
        } else if (k == u'x') {
            e.tipo = Tipo::Assente;
            e.postazione = numero(0);
        } else if (k == u'z') {
            e.tipo = Tipo::Azzeramento;
            e.sequenza = numero(0);
        } else {
            qFatal("evento non valido: %s", qPrintable(t));
        }
        v.push_back(e);
    }
    return v;
}

QString tempi(const Tempi& t) {
    if (t.conteggio == 0)
        return QStringLiteral("-");
    return QStringLiteral("%1/%2/%3").arg(t.mediana).arg(t.percentile90).arg(t.massimo);
}

// The figures in short: per day "G<day>:b c m", the total "T:b c r m a<median/p90/max>
// s<desk median>", per sequence "P<s>:...", per station "S<p>:c r a s", per hour with any
// activity "H<h>:b c w<most waiting>", then "buchi:<n>".
QString riassunto(const Risultato& r) {
    QStringList s;
    for (const Giorno& g : r.giorni)
        s << QStringLiteral("G%1:b%2 c%3 m%4")
                 .arg(g.data.day())
                 .arg(g.totale.biglietti)
                 .arg(g.totale.chiamate)
                 .arg(g.totale.maiChiamati);
    auto voce = [](const Voce& v) {
        return QStringLiteral("b%1 c%2 r%3 m%4 a%5 s%6")
            .arg(v.biglietti)
            .arg(v.chiamate)
            .arg(v.richiami)
            .arg(v.maiChiamati)
            .arg(tempi(v.attesa))
            .arg(v.servizio.conteggio ? QString::number(v.servizio.mediana) : QStringLiteral("-"));
    };
    s << QStringLiteral("T:") + voce(r.totale);
    for (const auto& [k, v] : r.perSequenza)
        s << QStringLiteral("P%1:").arg(k) + voce(v);
    for (const auto& [k, v] : r.perPostazione)
        s << QStringLiteral("S%1:c%2 r%3 a%4 s%5")
                 .arg(k)
                 .arg(v.chiamate)
                 .arg(v.richiami)
                 .arg(tempi(v.attesa))
                 .arg(v.servizio.conteggio ? QString::number(v.servizio.mediana)
                                           : QStringLiteral("-"));
    for (int h = 0; h < 24; ++h)
        if (r.ore[h].biglietti || r.ore[h].chiamate || r.ore[h].inAttesaMax)
            s << QStringLiteral("H%1:b%2 c%3 w%4")
                     .arg(h)
                     .arg(r.ore[h].biglietti)
                     .arg(r.ore[h].chiamate)
                     .arg(r.ore[h].inAttesaMax);
    s << QStringLiteral("buchi:%1").arg(r.buchi.size());
    return s.join(QStringLiteral(" | "));
}

} // namespace

class TestStatistiche : public QObject {
    Q_OBJECT
private slots:
    void figure_data();
    void figure();
    void intervallo();
    void buchiDescritti();
    void csvItaliano();
    void daFile();
    void comando_data();
    void comando();
    void creaECopia_data();
    void creaECopia();
};

void TestStatistiche::figure_data() {
    QTest::addColumn<QString>("eventi");
    QTest::addColumn<QString>("atteso");

    // Waits 300, 300, 480: median 300, 90th percentile rank ceil(2.7) = 3 -> 480. At the desk:
    // 9:05-9:06 60, 9:06-9:10 240, 9:10-9:12 (absent) 120: median 120. Three waiting at 9:02.
    QTest::newRow("three tickets, three calls")
        << "09:00/b1:1 09:01/b1:2 09:02/b1:3 09:05/c1:1 09:06/c1:2 09:10/c1:3 09:12/x1"
        << "G2:b3 c3 m0 | T:b3 c3 r0 m0 a300/480/480 s120 | P1:b3 c3 r0 m0 a300/480/480 s120 | "
           "S1:c3 r0 a300/480/480 s120 | H9:b3 c3 w3 | buchi:0";

    // Number 1 is issued twice in the day (before and after the wrap): the call at 9:04 takes the
    // second ticket (wait 180), not a recall. Waits 60, 120, 180, 180: median 150, p90 rank 4.
    // At the desk 60 (8:01-8:02 absent), 60, 60; the last call has no end.
    QTest::newRow("wrap after 99")
        << "08:00/b1:1 08:01/c1:1 08:02/x1 09:00/b1:98 09:00/b1:99 09:01/b1:1 09:02/c1:98 "
           "09:03/c1:99 09:04/c1:1"
        << "G2:b4 c4 m0 | T:b4 c4 r0 m0 a150/180/180 s60 | P1:b4 c4 r0 m0 a150/180/180 s60 | "
           "S1:c4 r0 a150/180/180 s60 | H8:b1 c1 w1 | H9:b3 c3 w3 | buchi:0";

    // Day 1: ticket 2 never called. Day 2: the reset, then number 2 called with no ticket of the
    // day (a call without a waiting time, not a recall), then 1 matched to today's ticket (660
    // s). Waits 300, 660: median 480, p90 rank 2 -> 660. Desk: only 9:10-9:11 on day 2.
    QTest::newRow("new day")
        << "09:00/b1:1 09:01/b1:2 09:05/c1:1 giorno+1 07:00/z1 09:00/b1:1 09:10/c1:2 09:11/c1:1"
        << "G2:b2 c1 m1 | G3:b1 c2 m0 | T:b3 c3 r0 m1 a480/660/660 s60 | "
           "P1:b3 c3 r0 m1 a480/660/660 s60 | S1:c3 r0 a480/660/660 s60 | H9:b3 c3 w2 | buchi:0";

    // A recall after a wait, and number 1 called again later (the previous-number function):
    // two recalls out of four calls. Waits 120, 300: median 210. Desk: 120, 120, 60, 60: the
    // wait does not end a call; median 90.
    QTest::newRow("recall")
        << "09:00/b1:1 09:01/b1:2 09:02/c1:1 09:03/a1:1 09:04/r1:1 09:06/c1:2 09:07/c1:1 09:08/x1"
        << "G2:b2 c4 m0 | T:b2 c4 r2 m0 a210/300/300 s90 | P1:b2 c4 r2 m0 a210/300/300 s90 | "
           "S1:c4 r2 a210/300/300 s90 | H9:b2 c4 w2 | buchi:0";

    // A gap cuts the first call's time at the desk, a stop the second's; a start without a stop
    // before it is a third span not covered. Waits 60 each; the only desk time is 60.
    QTest::newRow("gaps")
        << "09:00/b1:1 09:01/c1:1 09:02/buco 09:10/finebuco 09:11/b1:2 09:12/c1:2 09:13/arresto "
           "09:20/avvio 09:21/b1:3 09:22/c1:3 09:23/x1 09:30/avvio"
        << "G2:b3 c3 m0 | T:b3 c3 r0 m0 a60/60/60 s60 | P1:b3 c3 r0 m0 a60/60/60 s60 | "
           "S1:c3 r0 a60/60/60 s60 | H9:b3 c3 w1 | buchi:3";

    // Single numbering: stations 2 and 3 call from P11 (waits 120, 180, 240), station 1 in
    // standard numbering calls its own number 1, not P11's (240). Desk: station 2 9:02-9:05.
    QTest::newRow("single numbering")
        << "09:00/b11:1 09:00/b11:2 09:01/b11:3 09:00/b1:1 09:02/s2:1 09:03/s3:2 09:04/c1:1 "
           "09:05/s2:3"
        << "G2:b4 c4 m0 | T:b4 c4 r0 m0 a210/240/240 s180 | P1:b1 c1 r0 m0 a240/240/240 s- | "
           "P11:b3 c3 r0 m0 a180/240/240 s180 | S1:c1 r0 a240/240/240 s- | "
           "S2:c2 r0 a180/240/240 s180 | S3:c1 r0 a180/180/180 s- | H9:b4 c4 w4 | buchi:0";

    // The shared sequence past 99: 99 and then 1 again, each matched to its own ticket.
    QTest::newRow("single numbering past 99")
        << "09:00/b11:99 09:01/b11:1 09:02/s2:99 09:03/s2:1 10:00/b11:2"
        << "G2:b3 c2 m1 | T:b3 c2 r0 m1 a120/120/120 s60 | P11:b3 c2 r0 m1 a120/120/120 s60 | "
           "S2:c2 r0 a120/120/120 s60 | H9:b2 c2 w2 | H10:b1 c0 w1 | buchi:0";

    // People waiting carried over quiet hours: two tickets at 8, called at 11 (2:50 and 3:10
    // later: median 3:00, p90 rank 2 -> 3:10); both still waiting when 11:00 begins.
    QTest::newRow("waiting through the hours")
        << "08:10/b4:1 08:20/b4:2 11:00/c4:1 11:30/c4:2"
        << "G2:b2 c2 m0 | T:b2 c2 r0 m0 a10800/11400/11400 s1800 | "
           "P4:b2 c2 r0 m0 a10800/11400/11400 s1800 | S4:c2 r0 a10800/11400/11400 s1800 | "
           "H8:b2 c0 w2 | H9:b0 c0 w2 | H10:b0 c0 w2 | H11:b0 c2 w2 | buchi:0";
}

void TestStatistiche::figure() {
    QFETCH(QString, eventi);
    QFETCH(QString, atteso);
    const Risultato r = calcola(giornale(eventi), Primo, Primo.addDays(30));
    QCOMPARE(riassunto(r), atteso);
}

// Only the days of the range count; a range with no event is empty.
void TestStatistiche::intervallo() {
    const auto v = giornale("09:00/b1:1 09:05/c1:1 giorno+1 09:00/b1:1 giorno+2 09:00/b1:1");
    const Risultato r = calcola(v, Primo.addDays(1), Primo.addDays(1));
    QCOMPARE(riassunto(r), QStringLiteral("G3:b1 c0 m1 | T:b1 c0 r0 m1 a- s- | "
                                          "P1:b1 c0 r0 m1 a- s- | H9:b1 c0 w1 | buchi:0"));
    QVERIFY(calcola(v, Primo.addDays(5), Primo.addDays(9)).vuoto());
    QVERIFY(!calcola(v, Primo, Primo).vuoto());
}

// Each span not covered with its times and reason, in the table too.
void TestStatistiche::buchiDescritti() {
    const auto v = giornale("09:00/avvio 09:02/buco 09:10/finebuco 09:11/b1:1 09:13/arresto "
                            "09:20/avvio 09:25/perdita:7");
    const Risultato r = calcola(v, Primo, Primo);
    QCOMPARE(r.buchi.size(), size_t(3));
    QCOMPARE(r.buchi[0].inizio.time(), QTime(9, 2));
    QCOMPARE(r.buchi[0].fine.time(), QTime(9, 10));
    QVERIFY(r.buchi[0].motivo.startsWith(QStringLiteral("archivio non leggibile")));
    QCOMPARE(r.buchi[1].motivo, QStringLiteral("registratore fermo"));
    QCOMPARE(r.eventiPersi, 7);
    const QString t = tabella(r);
    QVERIFY2(t.contains(QStringLiteral("02/03/2026 09:13:00 - 02/03/2026 09:20:00  registratore "
                                       "fermo")),
             qPrintable(t));
    QVERIFY(t.contains(QStringLiteral("7 eventi persi")));
}

// The CSV: byte order mark, ";" between fields, decimal comma, the same columns on each line.
void TestStatistiche::csvItaliano() {
    const auto v = giornale("09:00/b1:1 09:01:30/c1:1 09:02/x1");
    const QByteArray c = csv(calcola(v, Primo, Primo));
    QVERIFY(c.startsWith("\xEF\xBB\xBFGiorno;Gruppo;Voce;Biglietti;"));
    const QList<QByteArray> righe = c.split('\n');
    QVERIFY(c.endsWith("\r\n"));
    const int colonne = int(righe[0].count(';'));
    for (const QByteArray& r : righe)
        if (!r.isEmpty())
            QCOMPARE(int(r.count(';')), colonne);
    // Wait 90 s = 1,50 min; at the desk 30 s = 0,50 min.
    QVERIFY2(c.contains("2026-03-02;Totale;Totale;1;1;0;0;1,50;1,50;1,50;0,50;\r\n"),
             c.constData());
    QVERIFY(c.contains("Periodo;Sequenza;P1;1;1;0;0;1,50;1,50;1,50;0,50;\r\n"));
    QVERIFY(c.contains("2026-03-02;Ora;09:00-10:00;1;1;;;1,50;1,50;1,50;;1\r\n"));
}

// From a journal file, as qvr-archivio reads it.
void TestStatistiche::daFile() {
    QTemporaryDir dir;
    const QString file = dir.filePath(NomeFile);
    {
        Registro r(file);
        r.apriScrittura();
        auto v = giornale("09:00/b1:1 09:05/c1:1 giorno+1 09:00/b1:1");
        r.aggiungi(v);
    }
    QCOMPARE(riassunto(calcola(file, Primo, Primo)),
             QStringLiteral("G2:b1 c1 m0 | T:b1 c1 r0 m0 a300/300/300 s- | "
                            "P1:b1 c1 r0 m0 a300/300/300 s- | S1:c1 r0 a300/300/300 s- | "
                            "H9:b1 c1 w1 | buchi:0"));
    QCOMPARE(
        test::numeroErrore([&] { calcola(dir.filePath(QStringLiteral("no.mdb")), Primo, Primo); }),
        Err::DatabaseNonTrovato);
}

// qvr-archivio statistiche: its exit status and messages, and the files it writes.
void TestStatistiche::comando_data() {
    QTest::addColumn<QStringList>("opzioni");
    QTest::addColumn<int>("uscita");
    QTest::addColumn<QString>("messaggio");
    QTest::newRow("whole journal")
        << QStringList{} << 0 << "Statistiche dal 02/03/2026 al 03/03/2026";
    QTest::newRow("one day") << QStringList{"--dal", "2026-03-03", "--al", "2026-03-03"} << 0
                             << "Statistiche dal 03/03/2026 al 03/03/2026";
    QTest::newRow("not a date") << QStringList{"--dal", "2026-02-30"} << 2
                                << "data non valida per --dal: \"2026-02-30\"";
    QTest::newRow("not a date either")
        << QStringList{"--al", "3/3/2026"} << 2 << "data non valida per --al";
    QTest::newRow("reversed") << QStringList{"--dal", "2026-03-05", "--al", "2026-03-01"} << 2
                              << "--dal 2026-03-05 viene dopo --al 2026-03-01";
    QTest::newRow("no data") << QStringList{"--dal", "2027-01-01"} << 1
                             << "Nessun dato nel registro dal 01/01/2027";
    QTest::newRow("missing value") << QStringList{"--csv"} << 2 << "manca il valore di --csv";
    QTest::newRow("unknown option") << QStringList{"--mese", "3"} << 2 << "opzione sconosciuta";
}

void TestStatistiche::comando() {
    QFETCH(QStringList, opzioni);
    QFETCH(int, uscita);
    QFETCH(QString, messaggio);
    test::AmbienteProva amb;
    {
        Registro r(amb.file(NomeFile));
        r.apriScrittura();
        auto v = giornale("09:00/b1:1 09:05/c1:1 giorno+1 09:00/b1:1 09:02/c1:1 09:03/x1");
        r.aggiungi(v);
    }
    const QString csv = amb.cartella() + QStringLiteral("/s.csv");
    const QString pdf = amb.cartella() + QStringLiteral("/s.pdf");
    QProcess p;
    p.start(test::cartellaBuild() + QStringLiteral("/qvr-archivio"),
            QStringList{QStringLiteral("statistiche"), amb.archivio()} + opzioni +
                (uscita == 0
                     ? QStringList{QStringLiteral("--csv"), csv, QStringLiteral("--pdf"), pdf}
                     : QStringList{}));
    QVERIFY(p.waitForFinished(30000));
    const QString uscitaTesto =
        QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    QVERIFY2(uscitaTesto.contains(messaggio), qPrintable(uscitaTesto));
    QCOMPARE(p.exitCode(), uscita);
    if (uscita != 0) {
        QVERIFY(!QFile::exists(csv));
        return;
    }
    QVERIFY(test::contenuto(csv).startsWith("\xEF\xBB\xBFGiorno;"));
    const QByteArray documento = test::contenuto(pdf);
    QVERIFY(documento.startsWith("%PDF-"));
    QVERIFY(documento.size() > 2000);
    // Every part of the report, in its order, as a reader of the PDF finds it (the title up to
    // where the font joins "ffi" in one glyph).
    QProcess lettore;
    lettore.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(lettore.waitForFinished(30000));
    const QString testo = QString::fromUtf8(lettore.readAllStandardOutput());
    qsizetype da = 0;
    for (const char* parte :
         {"Statistiche dell", "Riepilogo", "Periodi non coperti", "Biglietti emessi per ora",
          "Attesa media per ora", "Chiamate per postazione", "Per sequenza del totem",
          "Per postazione", "Per ora del giorno", "Per giorno"}) {
        da = testo.indexOf(QString::fromUtf8(parte), da);
        QVERIFY2(da >= 0, qPrintable(QString::fromUtf8(parte) + QStringLiteral("\n") + testo));
    }
}

// qvr-archivio crea makes an empty journal and keeps an existing one; statistiche reads it;
// copia takes it along, between any engines, and never overwrites a history on the way.
void TestStatistiche::creaECopia_data() {
    QTest::addColumn<bool>("daServer");
    QTest::addColumn<bool>("aServer");
    QTest::newRow("cartella -> cartella") << false << false;
    QTest::newRow("server -> cartella") << true << false;
    QTest::newRow("cartella -> server") << false << true;
}

void TestStatistiche::creaECopia() {
    QFETCH(bool, daServer);
    QFETCH(bool, aServer);
    if ((daServer || aServer) && test::uriServerProva().isEmpty())
        QSKIP("QVR_PG_URI non impostato: nessun server PostgreSQL di prova (scripts/test.sh lo "
              "avvia)");
    QTemporaryDir dir;
    test::DatabaseProva dbDa, dbA;
    const QString arch = daServer ? dbDa.uri() : dir.filePath(QStringLiteral("a"));
    const QString copia = aServer ? dbA.uri() : dir.filePath(QStringLiteral("b"));
    const QString prog = test::cartellaBuild() + QStringLiteral("/qvr-archivio");
    QProcess p;
    auto esegui = [&](const QStringList& argomenti) {
        p.start(prog, argomenti);
        if (!p.waitForFinished(60000))
            return -1;
        return p.exitCode();
    };
    QCOMPARE(esegui({QStringLiteral("crea"), arch}), 0);
    {
        const auto r = deposito(arch);
        r->apriLettura();
        QCOMPARE(r->versione(), VersioneSchema);
        QVERIFY(r->tutti().empty());
    }
    {
        const auto r = deposito(arch);
        r->apriScrittura();
        auto v = giornale("09:00/b1:1 09:05/c1:1");
        r->aggiungi(v);
    }
    QCOMPARE(esegui({QStringLiteral("crea"), arch, QStringLiteral("--sovrascrivi")}), 0);
    QCOMPARE(esegui({QStringLiteral("statistiche"), arch}), 0);
    QVERIFY(p.readAllStandardOutput().contains("Statistiche dal 02/03/2026 al 02/03/2026"));
    QCOMPARE(esegui({QStringLiteral("copia"), arch, copia}), 0);
    const QString detto = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    QVERIFY2(detto.contains(QStringLiteral("Registro copiato e verificato: 2 eventi")),
             qPrintable(detto));
    {
        const auto r = deposito(copia);
        r->apriLettura();
        QCOMPARE(r->tutti().size(), size_t(2));
    }
    if (!daServer && !aServer)
        return;
    // Again onto the copy: the archive is replaced, its journal (a history) is not.
    QCOMPARE(esegui({QStringLiteral("copia"), arch, copia, QStringLiteral("--sovrascrivi")}), 1);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("contiene già")));
    const auto r = deposito(copia);
    r->apriLettura();
    QCOMPARE(r->tutti().size(), size_t(2));
}

QTEST_GUILESS_MAIN(TestStatistiche)
#include "test_statistiche.moc"
