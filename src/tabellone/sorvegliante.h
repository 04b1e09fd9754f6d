#pragma once
// The board's watch on the archive: every 25 ms it reads the change marks of QVR.mdb, QVRA.mdb
// and QVRB.mdb (a few bytes of each header) and reads a database's records only when its mark
// moved. A failure (share down, a database missing, locked or damaged) is reported and retried
// every 2 s until the files come back; the model keeps the last state meanwhile.
//
// Once started, the reads run on a thread of their own (Sonda), one poll at a time, and their
// results come back to the window's thread by signal: a share or a server that stops answering
// never stalls the window. A poll that has not come back within a second is reported as an
// archive that does not answer; the board goes on painting under its banner, and the poll's
// result, when it comes, is taken as any other.
#include "archive/errori.h"
#include "archive/lettore.h"
#include "tabellone/modello.h"

#include <QMetaType>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QThread;

namespace qvr::tabellone {

// What one poll read: the records of the databases whose mark moved, and the failure that
// stopped it (number 0: none).
struct Lettura {
    std::optional<Assegnazioni> assegnazioni;
    std::optional<RecordsDisplay> display;
    std::optional<RecordsSingoli> singoli;
    int errore = 0;
    QString testoErrore;
};

// The polls themselves, with the marks of the last good read; lives on the reading thread once
// the watch has started.
class Sonda : public QObject {
    Q_OBJECT
public:
    Sonda(std::unique_ptr<LettoreArchivio> lettore, bool nominativi);
    // One poll, on the calling thread.
    Lettura leggi();
    QString cartella() const { return m_lettore->cartella(); }

public slots:
    void richiesta(); // one poll, its result by letta()

signals:
    void letta(const qvr::tabellone::Lettura& l);

private:
    std::unique_ptr<LettoreArchivio> m_lettore;
    bool m_nominativi;
    std::optional<ImprontaFile> m_qvr, m_qvra, m_qvrb;
};

class Sorvegliante : public QObject {
    Q_OBJECT
public:
    Sorvegliante(const QString& cartella, ModelloTabellone* modello, QObject* parent = nullptr);
    // With a reader of the test's own.
    Sorvegliante(std::unique_ptr<LettoreArchivio> lettore, ModelloTabellone* modello,
                 QObject* parent = nullptr);
    ~Sorvegliante() override;

    // Starts the reading thread and the polls.
    void avvia();
    // One poll now, on the calling thread (tests call it directly, before avvia()).
    void controlla();
    bool inErrore() const { return m_inErrore; }

    static constexpr int IntervalloMs = 25;
    static constexpr int RiprovaMs = 2000;
    // How long a poll may take before the archive counts as not answering.
    static constexpr int AttesaMassimaMs = 1000;

signals:
    void chiamate(const QVector<qvr::tabellone::Chiamata>& nuove);
    void aggiornato();
    void errore(int numero, const QString& testo);
    void ripristinato();

private:
    void chiedi();
    void letta(const Lettura& l);
    void applica(const Lettura& l);
    void nonRisponde();

    ModelloTabellone* m_modello;
    QString m_cartella;
    Sonda* m_sonda = nullptr; // owned here until avvia(), then by the reading thread
    QThread* m_filo = nullptr;
    QTimer m_prossima;
    QTimer m_guardia;
    bool m_inErrore = false;
};

} // namespace qvr::tabellone

Q_DECLARE_METATYPE(qvr::tabellone::Lettura)
