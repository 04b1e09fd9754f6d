// A station drawing from the shared counter file, started several times at once by the tests.
//
//   aiuto_contatore preleva <file> <count> <out>
//       draws <count> numbers with the single-lock draw and writes each one to <out>, one a line,
//       as soon as it is drawn; exit code 0 when all were drawn.
//   aiuto_contatore riscrivi <file>
//       rewrites the counter forever with growing numbers, alternating the one-item line of a
//       draw and the longer three-item line of a set number, until it is killed.
//   aiuto_contatore scrivi-percorsi <file>
//       saves the station settings file forever, alternating two different lines, until killed.
//
// Failures are printed on stderr with their error number; the exit code is then 2.

#include "archive/contatore.h"
#include "archive/errori.h"
#include "launcher/percorsi.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

int uso() {
    std::fprintf(stderr, "uso: aiuto_contatore preleva <file> <quanti> <uscita>\n"
                         "     aiuto_contatore riscrivi <file>\n"
                         "     aiuto_contatore scrivi-percorsi <file>\n");
    return 1;
}

int preleva(const QString& file, int quanti, const QString& uscita) {
    QFile out(uscita);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "impossibile scrivere %s\n", qPrintable(uscita));
        return 2;
    }
    for (int i = 0; i < quanti; ++i) {
        const qint32 numero = qvr::contatore::preleva(file, false);
        out.write(QByteArray::number(numero) + '\n');
    }
    return 0;
}

[[noreturn]] void riscrivi(const QString& file) {
    for (;;) {
        qvr::contatore::preleva(file, false);
        const qint32 numero = qvr::contatore::leggiLong(file);
        qvr::contatore::scriviImpostazione(file, numero + 1, 10);
    }
}

[[noreturn]] void scriviPercorsi(const QString& file) {
    for (;;) {
        qvr::ScriviPercorsi(QStringLiteral("\\\\server\\archivi\\sede centrale"), 10, file);
        qvr::ScriviPercorsi(QStringLiteral("C:\\Q"), 1, file);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return uso();
    const QByteArray comando = argv[1];
    const QString file = QString::fromLocal8Bit(argv[2]);
    // A long bound: the tests start many drawers at once on a slow disk.
    qvr::contatore::impostaLimiteAttesa(60000);
    try {
        if (comando == "preleva" && argc == 5)
            return preleva(file, std::atoi(argv[3]), QString::fromLocal8Bit(argv[4]));
        if (comando == "riscrivi" && argc == 3)
            riscrivi(file);
        if (comando == "scrivi-percorsi" && argc == 3)
            scriviPercorsi(file);
    } catch (const qvr::ErroreQvr& errore) {
        std::fprintf(stderr, "%s\n", errore.what());
        return 2;
    }
    return uso();
}
