// The ticket page's model: where a ticket stands in its queue, whether it was called or passed
// over, the estimate from the pace of its sequence and how it is said.
#include "server/web/biglietti_web.h"

#include <QtTest>

using namespace qvr;
using namespace qvr::web;
using registro::Tipo;

namespace {

const qint64 Adesso = QDateTime(QDate::currentDate(), QTime(12, 0)).toMSecsSinceEpoch();

// A day of the journal in the short form of the journal's tests, one event a minute up to
// now unless a time is given: "b1:3" ticket 3 of P1, "c1:2" a call of 2 at station 1, "r1:2" a
// recall, "s2:1" a single-numbering call at station 2, "z1" P1 back to 0; "@-12" puts the
// event 12 minutes before now; "*" marks the ticket looked up (its code "mio").
Biglietti giornata(const QString& testo) {
    Biglietti b;
    const QStringList voci = testo.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < voci.size(); ++i) {
        QString v = voci[i];
        qint64 minuti = i - voci.size();
        if (const qsizetype at = v.indexOf(u'@'); at >= 0) {
            minuti = v.mid(at + 1).toLongLong();
            v.truncate(at);
        }
        const bool mio = v.startsWith(u'*');
        if (mio)
            v.remove(0, 1);
        const QChar tipo = v[0];
        const QStringList parti = v.mid(1).split(u':');
        registro::Evento e;
        e.seq = i + 1;
        e.oraUtcMs = Adesso + minuti * 60000;
        e.scostamento = QDateTime::fromMSecsSinceEpoch(e.oraUtcMs).offsetFromUtc();
        const int a = parti[0].toInt();
        const qint32 n = parti.size() > 1 ? parti[1].toInt() : 0;
        if (tipo == u'b' || tipo == u'z') {
            e.tipo = tipo == u'b' ? Tipo::Biglietto : Tipo::Azzeramento;
            e.sequenza = a;
            e.numero = n;
            e.codice = mio ? QStringLiteral("mio") : QStringLiteral("b%1").arg(i);
        } else {
            e.tipo = Tipo::Chiamata;
            e.postazione = a;
            e.numero = n;
            e.singola = tipo == u's';
            e.richiamo = tipo == u'r';
        }
        b.aggiungi(e);
    }
    return b;
}

} // namespace

class TestBiglietti : public QObject {
    Q_OBJECT
private slots:
    void posto_data();
    void posto();
    void stima_data();
    void stima();
    void testoAttesa_data();
    void testoAttesa();
    void soloOggi();
};

void TestBiglietti::posto_data() {
    QTest::addColumn<QString>("giorno");
    QTest::addColumn<int>("fase"); // StatoBiglietto::Fase
    QTest::addColumn<int>("davanti");
    QTest::addColumn<int>("postazione");
    const int A = int(StatoBiglietto::Fase::Attesa), C = int(StatoBiglietto::Fase::Chiamato),
              S = int(StatoBiglietto::Fase::Superato);
    QTest::newRow("nessuna chiamata") << "b1:1 b1:2 *b1:3" << A << 2 << 0;
    QTest::newRow("il primo servito") << "b1:1 b1:2 *b1:3 c1:1" << A << 1 << 0;
    QTest::newRow("il prossimo") << "b1:1 b1:2 *b1:3 c1:1 c1:2" << A << 0 << 0;
    QTest::newRow("chiamato") << "b1:1 *b1:2 c1:1 c1:2" << C << 0 << 1;
    QTest::newRow("richiamato") << "*b1:1 c1:1 r1:1" << C << 0 << 1;
    QTest::newRow("numerazione unica") << "b11:1 *b11:2 s4:1 s5:2" << C << 0 << 5;
    QTest::newRow("unica: un'altra postazione prima")
        << "b11:1 b11:2 *b11:3 s4:1 s5:2" << A << 0 << 0;
    QTest::newRow("altre sequenze non contano") << "b2:1 b2:2 *b1:1 c2:1 c1:5" << A << 0 << 0;
    QTest::newRow("superato") << "b1:1 *b1:2 b1:3 c1:1 c1:3" << S << 0 << 0;
    QTest::newRow("lo stesso numero chiamato prima del biglietto") << "c1:5 *b1:5" << A << 0 << 0;
    QTest::newRow("dopo l'azzeramento") << "b1:1 b1:2 c1:2 z1 b1:1 *b1:2" << A << 1 << 0;
    QTest::newRow("dopo 99") << "b1:98 b1:99 b1:1 *b1:2 c1:98" << A << 2 << 0;
    QTest::newRow("dopo 99: il 2 del giro prima") << "b1:2 c1:2 b1:99 *b1:2 c1:99" << A << 0 << 0;
}

void TestBiglietti::posto() {
    QFETCH(QString, giorno);
    QFETCH(int, fase);
    const auto s = giornata(giorno).cerca(QStringLiteral("mio"), Adesso);
    QVERIFY(s);
    QCOMPARE(int(s->fase), fase);
    QTEST(s->davanti, "davanti");
    QTEST(s->postazione, "postazione");
}

void TestBiglietti::stima_data() {
    QTest::addColumn<QString>("giorno");
    QTest::addColumn<int>("secondi"); // -1: no estimate
    // Calls every 4 minutes, the last one a minute ago, one person ahead: 2 * 4 - 1.
    QTest::newRow("passo regolare")
        << "b1:1 b1:2 b1:3 b1:4 *b1:5 c1:1@-9 c1:2@-5 c1:3@-1" << 7 * 60;
    QTest::newRow("due chiamate: nessun passo") << "b1:1 b1:2 *b1:3 c1:1@-5 c1:2@-1" << -1;
    QTest::newRow("nessuna chiamata") << "b1:1 *b1:2" << -1;
    QTest::newRow("chiamate di oltre un'ora fa")
        << "b1:1 b1:2 b1:3 b1:4 *b1:5 c1:1@-70 c1:2@-66 c1:3@-62" << -1;
    // A 31-minute break is no pace: one interval of 4 minutes is left, too few.
    QTest::newRow("una pausa non conta") << "b1:1 b1:2 b1:3 *b1:4 c1:1@-40 c1:2@-9 c1:3@-5" << -1;
    // Recalls are no pace (with them the median would be 1 minute), but the last of them is the
    // last call.
    QTest::newRow("i richiami non contano")
        << "b1:1 b1:2 b1:3 b1:4 *b1:5 c1:1@-12 c1:2@-8 c1:3@-4 r1:3@-3 r1:3@-2 r1:3@-1" << 7 * 60;
    // Never less than one call's time, however long the last call has lasted.
    QTest::newRow("in ritardo sul passo")
        << "b1:1 b1:2 b1:3 *b1:4 c1:1@-30 c1:2@-26 c1:3@-22" << 4 * 60;
    QTest::newRow("il passo dell'altra sequenza no") << "b1:1 *b1:2 c2:1@-9 c2:2@-5 c2:3@-1" << -1;
}

void TestBiglietti::stima() {
    QFETCH(QString, giorno);
    QFETCH(int, secondi);
    const auto s = giornata(giorno).cerca(QStringLiteral("mio"), Adesso);
    QVERIFY(s);
    QCOMPARE(s->attesaS.value_or(-1), qint64(secondi));
}

void TestBiglietti::testoAttesa_data() {
    QTest::addColumn<int>("secondi");
    QTest::addColumn<QString>("testo");
    QTest::newRow("negativo") << -5 << "circa un minuto";
    QTest::newRow("subito") << 0 << "circa un minuto";
    QTest::newRow("89 s") << 89 << "circa un minuto";
    QTest::newRow("90 s") << 90 << "circa 2 minuti";
    QTest::newRow("9 min") << 9 * 60 + 29 << "circa 9 minuti";
    QTest::newRow("quasi 10") << 9 * 60 + 30 << "circa 10 minuti";
    QTest::newRow("12 min") << 12 * 60 + 20 << "circa 10 minuti";
    QTest::newRow("23 min") << 23 * 60 << "circa 25 minuti";
    QTest::newRow("57 min") << 57 * 60 << "circa 55 minuti";
    QTest::newRow("58 min") << 58 * 60 << "circa 1 ora";
    QTest::newRow("75 min") << 75 * 60 << "circa 1 ora e 15 minuti";
    QTest::newRow("100 min") << 100 * 60 << "circa 1 ora e 45 minuti";
    QTest::newRow("150 min") << 150 * 60 << "circa 2 ore e 30 minuti";
    QTest::newRow("3 ore") << 180 * 60 << "circa 3 ore";
    QTest::newRow("oltre 3 ore") << 181 * 60 << "più di 3 ore";
}

void TestBiglietti::testoAttesa() {
    QFETCH(int, secondi);
    QTEST(web::testoAttesa(secondi), "testo");
}

void TestBiglietti::soloOggi() {
    // A code unknown, and yesterday's tickets once the day has changed: nothing.
    const Biglietti b = giornata(QStringLiteral("b1:1 *b1:2"));
    QVERIFY(b.cerca(QStringLiteral("mio"), Adesso));
    QVERIFY(!b.cerca(QStringLiteral("altro"), Adesso));
    QVERIFY(!b.cerca(QStringLiteral("mio"), Adesso + 24 * 3600 * 1000));
    // Today's first event forgets them.
    Biglietti c = giornata(QStringLiteral("*b1:2"));
    registro::Evento domani;
    domani.tipo = Tipo::Biglietto;
    domani.seq = 9;
    domani.sequenza = 1;
    domani.numero = 1;
    domani.oraUtcMs = Adesso + 24 * 3600 * 1000;
    domani.scostamento = QDateTime::fromMSecsSinceEpoch(domani.oraUtcMs).offsetFromUtc();
    domani.codice = QStringLiteral("domani");
    c.aggiungi(domani);
    QVERIFY(!c.cerca(QStringLiteral("mio"), domani.oraUtcMs));
    QCOMPARE(c.cerca(QStringLiteral("domani"), domani.oraUtcMs)->davanti, 0);
}

QTEST_GUILESS_MAIN(TestBiglietti)
#include "test_web_biglietti.moc"
