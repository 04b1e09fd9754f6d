#pragma once
// The board's sound, made on this machine with no network: a chime synthesised here and the
// Italian voice of libespeak-ng, both as 16-bit mono PCM at 22,050 Hz.
#include <QByteArray>
#include <QString>

namespace qvr::tabellone {

constexpr int FrequenzaCampioni = 22050;

// Two soft bell tones (about 0.9 s).
QByteArray suonoChiamata();
// PCM silence of the given length.
QByteArray silenzio(int millisecondi);

// The Italian voice. Not thread-safe: one thread at a time speaks through it.
class Voce {
public:
    // Empty text when the voice is ready; otherwise why not ("Voce italiana non disponibile").
    static QString prepara();
    // The spoken text as PCM (empty when the voice is not ready).
    static QByteArray pronuncia(const QString& testo);
    // Chime, pause, "Numero N, postazione P".
    static QByteArray annuncio(int postazione, qint32 numero);
};

// The 44-byte header of a WAV file of `byte` bytes of the voice's PCM (16-bit mono at
// FrequenzaCampioni).
QByteArray testaWav(qsizetype byte);
// Writes PCM as a WAV file; false with `errore` set on failure (nothing half-written is left).
bool scriviWav(const QString& file, const QByteArray& pcm, QString* errore);

} // namespace qvr::tabellone
