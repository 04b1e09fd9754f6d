#pragma once
// The office's recorder: watches one archive folder and writes what happens in it to the
// journal Registro.mdb beside its databases.
//
// - One recorder per archive: an exclusive flock on "Registro.lock" in the archive folder, held
//   for the process's life. A second recorder tries again every 500 ms, so it takes over within
//   a second of the first one's end, and records the handover.
// - Every 100 ms the change marks of QVR.mdb, QVRA.mdb, QVRB.mdb and Totem.mdb are read (a few
//   bytes of each header); a database's tables are read only when its mark moved.
// - An archive that cannot be read starts a gap (recorded with the error), retried every 2 s;
//   the recorder never gives up. What changed meanwhile is recorded when it is readable again.
// - A journal that cannot be written (disk full, read-only share, share down) keeps the events
//   in memory, at most MassimoInAttesa of them (the oldest dropped beyond, and their number
//   recorded), and writes them every 2 s until it can. A damaged journal is renamed aside and a
//   new one started.
#include "archive/lettore.h"
#include "registro/osservatore.h"
#include "registro/registro.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace qvr::server {

// One log line on stderr with its level: 3 error, 4 warning, 6 information.
void scriviLog(int livello, const QString& testo);

class Registratore : public QObject {
    Q_OBJECT
public:
    explicit Registratore(const QString& cartella, QObject* parent = nullptr);
    ~Registratore() override;

    // Starts: takes the lock (or waits for it), then records.
    void avvia();
    // Records the stop, writes what is held and releases the lock.
    void ferma();

    bool attivo() const { return m_attivo; }
    QString identita() const { return m_identita; }

    static constexpr int IntervalloMs = 100;
    static constexpr int RiprovaMs = 2000;
    static constexpr int RiprovaBloccoMs = 500;
    static constexpr size_t MassimoInAttesa = 200000;

signals:
    // A batch of events now in the journal, with their sequence numbers (for the web pages).
    void eventiScritti(const std::vector<qvr::registro::Evento>& eventi);

private:
    bool prendiBlocco();
    void provaBlocco();
    void inizia();
    void controlla();
    void registra(std::vector<registro::Evento> eventi, bool ancheStato);
    void scrivi();
    QDateTime adesso() const { return QDateTime::currentDateTime(); }

    QString m_cartella;
    QString m_fileRegistro;
    QString m_identita;
    LettoreArchivio m_lettore;
    registro::Osservatore m_osservatore;
    std::unique_ptr<registro::Registro> m_registro;
    QTimer m_timer;
    QTimer m_timerBlocco;
    int m_fdBlocco = -1;
    bool m_attivo = false;
    bool m_atteso = false; // another recorder held the lock when this one started
    bool m_avvisatoBlocco = false;
    std::optional<int> m_erroreBlocco;
    // The archive: in a gap since the error of that number.
    std::optional<int> m_buco;
    std::optional<ImprontaFile> m_qvr, m_qvra, m_qvrb, m_totem;
    // The journal: events not written yet, the state to write with them, the last failure.
    std::deque<registro::Evento> m_inAttesa;
    std::vector<registro::Evento> m_primi; // the start's events, written with the first read
    std::optional<QString> m_statoDaScrivere;
    QString m_statoScritto;
    qint64 m_persi = 0;
    std::optional<int> m_erroreScrittura;
    qint64 m_prossimoTentativo = 0;
};

} // namespace qvr::server
