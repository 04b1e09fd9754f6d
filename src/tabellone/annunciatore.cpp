#include "tabellone/annunciatore.h"

#include "tabellone/voce.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

namespace qvr::tabellone {

void Sintetizzatore::sintetizza(int postazione, qint32 numero) {
    emit pronto(postazione, numero, Voce::annuncio(postazione, numero));
}

Annunciatore::Annunciatore(QObject* parent) : QObject(parent) {
    m_sintetizzatore = new Sintetizzatore;
    m_sintetizzatore->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_sintetizzatore, &QObject::deleteLater);
    connect(this, &Annunciatore::richiestaSintesi, m_sintetizzatore, &Sintetizzatore::sintetizza);
    connect(m_sintetizzatore, &Sintetizzatore::pronto, this, &Annunciatore::suona);
    m_thread.start();
    m_dispositivo = !QMediaDevices::audioOutputs().isEmpty();
    impostaVoce(true, 80);
}

Annunciatore::~Annunciatore() {
    if (m_uscita)
        m_uscita->stop();
    m_thread.quit();
    m_thread.wait();
}

void Annunciatore::impostaStato(const QString& s) {
    if (s == m_stato)
        return;
    m_stato = s;
    emit statoCambiato(s);
}

void Annunciatore::impostaVoce(bool attiva, int volume) {
    m_attiva = attiva;
    m_volume = std::clamp(volume, 0, 100);
    if (m_uscita)
        m_uscita->setVolume(m_volume / 100.0);
    if (!m_attiva) {
        m_coda.svuota();
        impostaStato(QStringLiteral("Annunci vocali disattivati"));
    } else if (!m_dispositivo) {
        m_coda.svuota();
        impostaStato(QStringLiteral("Nessun dispositivo audio: le chiamate non sono annunciate"));
    } else {
        impostaStato({});
    }
}

void Annunciatore::annuncia(const Chiamata& c) {
    if (!m_attiva || !m_dispositivo)
        return;
    m_coda.accoda(c.postazione, c.numero);
    prossimo();
}

void Annunciatore::prossimo() {
    if (m_occupato)
        return;
    const auto a = m_coda.prossimo();
    if (!a)
        return;
    m_occupato = true;
    emit richiestaSintesi(a->postazione, a->numero);
}

void Annunciatore::suona(int postazione, qint32 numero, const QByteArray& pcm) {
    if (!m_attiva || !m_dispositivo) {
        m_occupato = false;
        return;
    }
    QAudioFormat formato;
    formato.setSampleRate(FrequenzaCampioni);
    formato.setChannelCount(1);
    formato.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice dispositivo = QMediaDevices::defaultAudioOutput();
    if (dispositivo.isNull() || !dispositivo.isFormatSupported(formato)) {
        m_dispositivo = false;
        m_occupato = false;
        m_coda.svuota();
        impostaStato(QStringLiteral("Nessun dispositivo audio: le chiamate non sono annunciate"));
        return;
    }
    m_buffer.close();
    m_buffer.setData(pcm);
    m_buffer.open(QIODevice::ReadOnly);
    m_uscita = std::make_unique<QAudioSink>(dispositivo, formato);
    m_uscita->setVolume(m_volume / 100.0);
    connect(m_uscita.get(), &QAudioSink::stateChanged, this, [this](QAudio::State s) {
        if (s == QAudio::IdleState || s == QAudio::StoppedState)
            fine();
    });
    emit inizioAnnuncio(postazione, numero);
    m_uscita->start(&m_buffer);
}

void Annunciatore::fine() {
    if (!m_occupato)
        return;
    m_occupato = false;
    if (m_uscita) {
        m_uscita->disconnect(this);
        m_uscita->stop();
    }
    QMetaObject::invokeMethod(this, &Annunciatore::prossimo, Qt::QueuedConnection);
}

} // namespace qvr::tabellone
