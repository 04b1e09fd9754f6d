#pragma once
// The board's watch on the archive: every 25 ms it reads the change marks of QVR.mdb, QVRA.mdb
// and QVRB.mdb (a few bytes of each header) and reads a database's records only when its mark
// moved. A failure (share down, a database missing, locked or damaged) is reported and retried
// every 2 s until the files come back; the model keeps the last state meanwhile.
//
// Once started, the polls run on a thread of their own (Sonda), timed there, one at a time, and
// their results come back to the window's thread by signal, in order: a share or a server that
// stops answering never stalls the window, and a window busy painting never delays a poll. No
// result for a second beyond the poll's interval is reported as an archive that does not
// answer; the board goes on painting under its banner, and the poll's result, when it comes, is
// taken as any other.
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

    // Polls every `intervalloMs` (every `riprovaMs` after a failure), each counted from the end
    // of the one before; call it on the reading thread.
    Q_INVOKABLE void avvia(int intervalloMs, int riprovaMs);

signals:
    void letta(const qvr::tabellone::Lettura& l);

private:
    void sonda();

    std::unique_ptr<LettoreArchivio> m_lettore;
    bool m_nominativi;
    QTimer* m_timer = nullptr;
    int m_intervallo = 0;
    int m_riprova = 0;
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
    // Whether a poll has come back since the start (the starting point is set).
    bool letto() const { return m_letto; }

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
    void letta(const Lettura& l);
    void applica(const Lettura& l);
    void nonRisponde();

    ModelloTabellone* m_modello;
    QString m_cartella;
    Sonda* m_sonda = nullptr; // owned here until avvia(), then by the reading thread
    QThread* m_filo = nullptr;
    QTimer m_guardia;
    bool m_inErrore = false;
    bool m_letto = false;
};

} // namespace qvr::tabellone

Q_DECLARE_METATYPE(qvr::tabellone::Lettura)
