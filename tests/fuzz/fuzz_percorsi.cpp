// Fuzz target: the station settings file reader. Whatever the bytes, reading either gives two
// values or fails with one of the file's error numbers; it never crashes or hangs.
#include "archive/errori.h"
#include "archive/file_percorsi.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {
QString fileProva() {
    static QTemporaryDir cartella;
    static const QString file = cartella.path() + QStringLiteral("/percorsi.txt");
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
    try {
        const qvr::ValoriPercorsi valori = qvr::leggiFilePercorsi(fileProva());
        // The folder text never carries a NUL into a path.
        if (valori.cartella.contains(QChar(0)))
            std::abort();
    } catch (const qvr::ErroreQvr& errore) {
        if (qvr::descrizioneErrore(errore.numero()).isEmpty())
            std::abort(); // every failure carries a known number
    }
    return 0;
}
