// A ticket printed through CUPS on the PDF printer that scripts/servizi/cups.sh sets up; the
// PDF is checked with pdftotext and pdfinfo. Skipped, with the reason, when CUPS cannot start.
#include "totem/impostazioni_totem.h"
#include "totem/stampa.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace qvr::totem;

class TestTotemCups : public QObject {
    Q_OBJECT
private slots:
    void stampaPdf_data();
    void stampaPdf();
    void codaMancante();
};

namespace {

QString esegui(const QString& programma, const QStringList& argomenti, int* stato = nullptr) {
    QProcess p;
    p.start(programma, argomenti);
    p.waitForFinished(60000);
    if (stato)
        *stato = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

} // namespace

void TestTotemCups::stampaPdf_data() {
    QTest::addColumn<int>("carta");
    QTest::newRow("58 mm") << 58;
    QTest::newRow("80 mm") << 80;
}

void TestTotemCups::stampaPdf() {
    QFETCH(int, carta);
    int stato = 0;
    const QString uscita = esegui("bash", {QVR_CUPS_SCRIPT}, &stato).trimmed();
    if (stato != 0)
        QSKIP(qPrintable("CUPS non disponibile: " + uscita));
    // The folder is the script's last line of standard output; lpadmin's warning on stderr
    // (the first run, when the queue is added) may follow it here.
    QString cartellaPdf;
    for (const QString& riga : uscita.split('\n'))
        if (riga.trimmed().startsWith('/'))
            cartellaPdf = riga.trimmed();
    ImpostazioniTotem s;
    s.modo = ModoStampa::Cups;
    s.stampante = QStringLiteral("QVR-PDF");
    s.carta = carta;
    const QDateTime prima = QDateTime::currentDateTime().addSecs(-1);
    const qint32 numero = 500 + carta;
    const EsitoStampa e =
        Stampante(s).stampa({QStringLiteral("Comune di Prova"), QStringLiteral("Anagrafe"), numero,
                             2, QDateTime::currentDateTime()});
    QVERIFY2(e.riuscita, qPrintable(e.errore));
    QVERIFY(e.lavoro > 0);
    // The document sent carries the number and the service as text.
    {
        QTemporaryDir dir;
        const QString inviato = dir.filePath("inviato.pdf");
        QFile f(inviato);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pdfBiglietto({QStringLiteral("Comune di Prova"), QStringLiteral("Anagrafe"), numero,
                              2, QDateTime::currentDateTime()},
                             carta));
        f.close();
        const QString testo = esegui("pdftotext", {inviato, "-"});
        QVERIFY2(testo.contains(QString::number(numero)) && testo.contains("Anagrafe"),
                 qPrintable(testo));
    }
    // cups-pdf names its file after the job's title ("Biglietto N") once the job went through.
    QString pdf;
    QElapsedTimer t;
    t.start();
    while (pdf.isEmpty() && t.elapsed() < 30000) {
        for (const QFileInfo& f : QDir(cartellaPdf).entryInfoList({"*.pdf"}, QDir::Files))
            // Taken once complete: cups-pdf writes it in place.
            if (f.lastModified() >= prima && f.fileName().contains(QString::number(numero)) &&
                esegui("pdfinfo", {f.filePath()}).contains("Page size"))
                pdf = f.filePath();
        if (pdf.isEmpty())
            QTest::qWait(200);
    }
    QVERIFY2(!pdf.isEmpty(), qPrintable("nessun PDF del lavoro in " + cartellaPdf));
    const QString info = esegui("pdfinfo", {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)").match(info);
    QVERIFY2(m.hasMatch(), qPrintable(info));
    const double larghezzaMm = m.captured(1).toDouble() * 25.4 / 72.0;
    QVERIFY2(qAbs(larghezzaMm - carta) < 1.0, qPrintable(info));
    QFile::remove(pdf);
}

void TestTotemCups::codaMancante() {
    ImpostazioniTotem s;
    s.stampante = QStringLiteral("QVR-NON-ESISTE");
    const EsitoStampa e = Stampante(s).stampa({"Ufficio", "Anagrafe", 1, 0, QDateTime()});
    QVERIFY(!e.riuscita);
    QVERIFY2(e.errore.contains("QVR-NON-ESISTE"), qPrintable(e.errore));
}

QTEST_MAIN(TestTotemCups)
#include "test_totem_cups.moc"
