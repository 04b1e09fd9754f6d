#include "statistiche_archivio.h"

#include "archive/errori.h"
#include "archive/percorsi_archivio.h"
#include "registro/deposito.h"
#include "registro/rapporto_pdf.h"
#include "registro/registro.h"
#include "registro/statistiche.h"

#include <QDate>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace qvr::strumenti {

namespace {

int uso(const QString& testo) {
    std::fprintf(stderr,
                 "qvr-archivio: %s\nUso: qvr-archivio statistiche <archivio> [--dal AAAA-MM-GG] "
                 "[--al AAAA-MM-GG] [--csv FILE] [--pdf FILE]\n",
                 testo.toUtf8().constData());
    return 2;
}

int errore(const QString& testo) {
    std::fprintf(stderr, "%s\n", testo.toUtf8().constData());
    return 1;
}

// A date written AAAA-MM-GG, and a real one.
std::optional<QDate> data(const QString& testo) {
    static const QRegularExpression forma(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (!forma.match(testo).hasMatch())
        return std::nullopt;
    const QDate d = QDate::fromString(testo, Qt::ISODate);
    if (!d.isValid())
        return std::nullopt;
    return d;
}

// Writes a whole file or nothing: a failure leaves any previous file as it was.
void scriviFile(const QString& nome, const QByteArray& dati) {
    QSaveFile f(nome);
    if (!f.open(QIODevice::WriteOnly) || f.write(dati) != dati.size() || !f.commit()) {
        const int e = errno;
        throw ErroreQvr(e ? numeroDaErrno(e) : Err::ErroreIO,
                        nome + QStringLiteral(": ") + f.errorString());
    }
}

} // namespace

bool vuolePdf(int argc, char* argv[]) {
    bool stat = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "statistiche") == 0)
            stat = true;
        if (stat && std::strncmp(argv[i], "--pdf", 5) == 0)
            return true;
    }
    return false;
}

// What the command line asks for.
struct Richiesta {
    QString archivio;
    QString dal, al, fileCsv, filePdf; // as written
    QDate da{1900, 1, 1}, a{9999, 12, 31};
};

// Reads the command line into `r`: 0 when it holds, otherwise the exit status of the usage
// error it has shown.
int leggiRichiesta(const QStringList& argomenti, Richiesta& r) {
    for (int i = 0; i < argomenti.size(); ++i) {
        const QString& a = argomenti[i];
        auto valore = [&](QString& dove) {
            if (i + 1 >= argomenti.size())
                return false;
            dove = argomenti[++i];
            return true;
        };
        bool ok = true;
        if (a == QStringLiteral("--dal"))
            ok = valore(r.dal);
        else if (a == QStringLiteral("--al"))
            ok = valore(r.al);
        else if (a == QStringLiteral("--csv"))
            ok = valore(r.fileCsv);
        else if (a == QStringLiteral("--pdf"))
            ok = valore(r.filePdf);
        else if (a.startsWith(QLatin1Char('-')))
            return uso(QStringLiteral("opzione sconosciuta: %1").arg(a));
        else if (r.archivio.isEmpty())
            r.archivio = a;
        else
            return uso(QStringLiteral("argomento inatteso: \"%1\"").arg(a));
        if (!ok)
            return uso(QStringLiteral("manca il valore di %1").arg(a));
    }
    if (r.archivio.isEmpty())
        return uso(QStringLiteral("manca la cartella dell'archivio"));
    if (!r.dal.isEmpty()) {
        const auto d = data(r.dal);
        if (!d)
            return uso(QStringLiteral("data non valida per --dal: \"%1\" (scrivere AAAA-MM-GG, "
                                      "per esempio 2026-03-02)")
                           .arg(r.dal));
        r.da = *d;
    }
    if (!r.al.isEmpty()) {
        const auto d = data(r.al);
        if (!d)
            return uso(QStringLiteral("data non valida per --al: \"%1\" (scrivere AAAA-MM-GG, "
                                      "per esempio 2026-03-31)")
                           .arg(r.al));
        r.a = *d;
    }
    if (r.da > r.a)
        return uso(QStringLiteral("--dal %1 viene dopo --al %2").arg(r.dal, r.al));
    return 0;
}

int statistiche(const QStringList& argomenti) {
    Richiesta richiesta;
    if (const int uscita = leggiRichiesta(argomenti, richiesta))
        return uscita;
    const auto& [archivio, dal, al, fileCsv, filePdf, da, a] = richiesta;

    const std::unique_ptr<registro::Deposito> giornale = registro::deposito(archivio);
    const QString file = giornale->nome();
    try {
        statistiche::Risultato r = statistiche::calcola(*giornale, da, a);
        if (r.vuoto()) {
            if (dal.isEmpty() && al.isEmpty())
                return errore(QStringLiteral("Il registro %1 non contiene ancora biglietti né "
                                             "chiamate.")
                                  .arg(file));
            return errore(QStringLiteral("Nessun dato nel registro dal %1 al %2.")
                              .arg(da.toString(QStringLiteral("dd/MM/yyyy")),
                                   a.toString(QStringLiteral("dd/MM/yyyy"))));
        }
        if (dal.isEmpty())
            r.dal = r.giorni.front().data;
        if (al.isEmpty())
            r.al = r.giorni.back().data;
        const QByteArray testo = statistiche::tabella(r).toUtf8();
        std::fwrite(testo.constData(), 1, size_t(testo.size()), stdout);
        if (!fileCsv.isEmpty()) {
            scriviFile(fileCsv, statistiche::csv(r));
            std::printf("\nCSV scritto in %s\n", fileCsv.toUtf8().constData());
        }
        if (!filePdf.isEmpty()) {
            scriviFile(filePdf, statistiche::pdf(r, archivio));
            std::printf("\nPDF scritto in %s\n", filePdf.toUtf8().constData());
        }
        std::fflush(stdout);
        return 0;
    } catch (const ErroreQvr& e) {
        QString testo = e.testoCompleto();
        if (e.numero() == Err::DatabaseNonTrovato)
            testo += QStringLiteral("\nL'archivio non ha ancora un registro: lo crea qvr-server "
                                    "(o qvr-archivio crea).");
        return errore(testo);
    }
}

} // namespace qvr::strumenti
