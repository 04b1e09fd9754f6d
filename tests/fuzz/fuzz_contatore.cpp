// Fuzz target: the shared counter file reader. Whatever the bytes, reading gives a number or
// fails with one of the counter's error numbers, and the text and Long readings agree.
#include "archive/contatore.h"
#include "archive/errori.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {
QString fileProva() {
    static QTemporaryDir cartella;
    static const QString file = cartella.path() + QStringLiteral("/Nr4All.txt");
    return file;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dati, size_t dimensione) {
    {
        QFile f(fileProva());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(dati), static_cast<qint64>(dimensione));
    }
    int erroreLong = 0;
    qint32 numero = 0;
    try {
        numero = qvr::contatore::leggiLong(fileProva());
    } catch (const qvr::ErroreQvr& errore) {
        erroreLong = errore.numero();
        if (qvr::descrizioneErrore(erroreLong).isEmpty())
            std::abort();
    }
    try {
        const QString testo = qvr::contatore::leggiTesto(fileProva());
        // A readable Long is the number the text shows.
        if (erroreLong == 0 && testo.trimmed().toLongLong() != numero)
            std::abort();
    } catch (const qvr::ErroreQvr& errore) {
        if (qvr::descrizioneErrore(errore.numero()).isEmpty())
            std::abort();
    }
    return 0;
}
