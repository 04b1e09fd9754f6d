#pragma once
// Speaks the calls one after another: the queue of announcements, the synthesis on a thread of
// its own (so the watch on the archive never waits for it) and the output through Qt
// Multimedia. With no sound device, or the voice off, the board goes on silently and says why.
#include "tabellone/modello.h"

#include <QBuffer>
#include <QObject>
#include <QThread>

#include <memory>

class QAudioSink;

namespace qvr::tabellone {

class Sintetizzatore : public QObject {
    Q_OBJECT
public slots:
    void sintetizza(int postazione, qint32 numero);
signals:
    void pronto(int postazione, qint32 numero, const QByteArray& pcm);
};

class Annunciatore : public QObject {
    Q_OBJECT
public:
    explicit Annunciatore(QObject* parent = nullptr);
    ~Annunciatore() override;

    void impostaVoce(bool attiva, int volume);
    void annuncia(const Chiamata& c);
    // Empty when the announcements are heard; otherwise the status line's text.
    QString stato() const { return m_stato; }

signals:
    void statoCambiato(const QString& testo);
    void inizioAnnuncio(int postazione, qint32 numero);
    void richiestaSintesi(int postazione, qint32 numero);

private:
    void prossimo();
    void suona(int postazione, qint32 numero, const QByteArray& pcm);
    void fine();
    void impostaStato(const QString& s);

    CodaAnnunci m_coda;
    QThread m_thread;
    Sintetizzatore* m_sintetizzatore = nullptr;
    std::unique_ptr<QAudioSink> m_uscita;
    QBuffer m_buffer;
    bool m_occupato = false;
    bool m_attiva = true;
    int m_volume = 80;
    bool m_dispositivo = false;
    QString m_stato;
};

} // namespace qvr::tabellone
