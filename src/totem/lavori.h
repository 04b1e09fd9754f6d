#pragma once
// The kiosk's slow work, off the window's thread: the archive (a ticket, the check of the switch)
// and the printer, each on a thread of its own that does one thing at a time, in the order asked.
// Work is handed over with avvia(); results come back as signals, queued to the asker's thread.
// An asker that goes away misses them; a thread still busy when its owner goes is left to end its
// step and then deletes itself.

#include "archive/biglietti.h"
#include "totem/stampa.h"

#include <QObject>

#include <functional>

class QThread;

namespace qvr::totem {

// Issues one ticket of a sequence in an archive folder (run on the archive's thread).
using Emissione = std::function<biglietti::Biglietto(const QString& cartella, int sequenza)>;

class LavoroArchivio : public QObject {
    Q_OBJECT
public:
    // The following run on the archive's thread (through Filo::avvia).
    void emetti(quint64 richiesta, const Emissione& emissione, const QString& cartella,
                int sequenza);
    // `chiave`: also reads the key of the tickets' codes from the archive's journal.
    void controlla(const QString& cartella, bool chiave = false);

signals:
    // numero, davanti and coda as biglietti::Biglietto has them.
    void emesso(quint64 richiesta, int numero, int davanti, int coda);
    void nonEmesso(quint64 richiesta, int errore, const QString& testo);
    // errore 0: the archive answered, `attivo` tells whether the kiosk is in use.
    void controllato(bool attivo, int errore, const QString& testo);
    // The key of the tickets' codes, once the journal holds one.
    void chiaveLetta(const QByteArray& chiave);
};

class LavoroStampa : public QObject {
    Q_OBJECT
public:
    void stampa(quint64 lavoro, const Stampante& stampante, const DatiBiglietto& dati,
                QDeadlineTimer scadenza);
    void verifica(const Stampante& stampante);

signals:
    void stampato(quint64 lavoro, bool riuscita, const QString& errore);
    // Empty when the printer can print.
    void verificato(const QString& problema);
};

// A worker object on a thread of its own, for the life of its owner.
template <typename Lavoro> class Filo {
public:
    Filo();
    ~Filo();
    Filo(const Filo&) = delete;
    Filo& operator=(const Filo&) = delete;

    Lavoro* lavoro() const { return m_lavoro; }
    // Runs `passo` on the worker's thread, after what was asked before.
    void avvia(std::function<void(Lavoro*)> passo);

private:
    QThread* m_thread;
    Lavoro* m_lavoro;
};

extern template class Filo<LavoroArchivio>;
extern template class Filo<LavoroStampa>;

} // namespace qvr::totem
