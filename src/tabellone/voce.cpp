#include "tabellone/voce.h"

#include "tabellone/modello.h"

#include <QSaveFile>
#include <QtEndian>

#include <espeak-ng/speak_lib.h>

#include <cmath>
#include <numbers>

namespace qvr::tabellone {

namespace {

bool g_pronta = false;
QString g_motivo;

int richiamo(short* campioni, int quanti, espeak_EVENT* eventi) {
    if (campioni && quanti > 0 && eventi && eventi->user_data) {
        auto* uscita = static_cast<QByteArray*>(eventi->user_data);
        uscita->append(reinterpret_cast<const char*>(campioni), static_cast<qsizetype>(quanti) * 2);
    }
    return 0;
}

void aggiungiCampione(QByteArray& pcm, double v) {
    const auto s = static_cast<qint16>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
    char b[2];
    qToLittleEndian(s, b);
    pcm.append(b, 2);
}

} // namespace

QByteArray silenzio(int millisecondi) {
    return QByteArray(static_cast<qsizetype>(FrequenzaCampioni) * millisecondi / 1000 * 2, '\0');
}

QByteArray suonoChiamata() {
    // Two bell-like tones, a sixth apart, each with a few harmonics and an exponential decay.
    QByteArray pcm;
    const double toni[] = {880.0, 659.25};
    const int durata = FrequenzaCampioni * 45 / 100;
    for (double f : toni) {
        for (int i = 0; i < durata; ++i) {
            const double t = double(i) / FrequenzaCampioni;
            const double attacco = std::min(1.0, t / 0.005);
            const double inviluppo = attacco * std::exp(-t * 6.0);
            const double onda = std::sin(2 * std::numbers::pi * f * t) +
                                0.35 * std::sin(2 * std::numbers::pi * 2 * f * t) +
                                0.15 * std::sin(2 * std::numbers::pi * 3 * f * t);
            aggiungiCampione(pcm, 0.45 * inviluppo * onda);
        }
    }
    return pcm;
}

QString Voce::prepara() {
    if (g_pronta || !g_motivo.isEmpty())
        return g_motivo;
    const int frequenza = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
    if (frequenza <= 0) {
        g_motivo = QStringLiteral("Sintesi vocale non disponibile (espeak-ng)");
        return g_motivo;
    }
    if (frequenza != FrequenzaCampioni) {
        g_motivo = QStringLiteral("Sintesi vocale a %1 Hz non gestita").arg(frequenza);
        return g_motivo;
    }
    espeak_SetSynthCallback(richiamo);
    if (espeak_SetVoiceByName("it") != EE_OK) {
        g_motivo = QStringLiteral("Voce italiana non disponibile (espeak-ng-data)");
        return g_motivo;
    }
    espeak_SetParameter(espeakRATE, 150, 0);
    g_pronta = true;
    return {};
}

QByteArray Voce::pronuncia(const QString& testo) {
    QByteArray pcm;
    if (!prepara().isEmpty())
        return pcm;
    const QByteArray utf8 = testo.toUtf8();
    espeak_Synth(utf8.constData(), static_cast<size_t>(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                 espeakCHARS_UTF8, nullptr, &pcm);
    espeak_Synchronize();
    return pcm;
}

QByteArray Voce::annuncio(int postazione, qint32 numero) {
    QByteArray pcm = suonoChiamata();
    pcm += silenzio(200);
    pcm += pronuncia(testoAnnuncio(postazione, numero));
    pcm += silenzio(150);
    return pcm;
}

QByteArray testaWav(qsizetype byte) {
    QByteArray testa;
    auto u32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        testa.append(b, 4);
    };
    auto u16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        testa.append(b, 2);
    };
    testa.append("RIFF");
    u32(36 + static_cast<quint32>(byte));
    testa.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(FrequenzaCampioni);
    u32(FrequenzaCampioni * 2);
    u16(2);
    u16(16);
    testa.append("data");
    u32(static_cast<quint32>(byte));
    return testa;
}

bool scriviWav(const QString& file, const QByteArray& pcm, QString* errore) {
    const QByteArray testa = testaWav(pcm.size());
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(testa) != testa.size() ||
        f.write(pcm) != pcm.size() || !f.commit()) {
        if (errore)
            *errore = f.errorString();
        return false;
    }
    return true;
}

} // namespace qvr::tabellone
