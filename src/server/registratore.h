#pragma once
// The office's recorder: watches one archive (a folder or a server) and writes what happens in it
// to the archive's journal (Registro.mdb beside the databases, or the schema `registro` of the
// office's database: registro/deposito.h).
//
// - One recorder per archive: a lock held for the process's life (a flock on "Registro.lock" in
//   the folder, a session advisory lock on the server). A second recorder tries again every
//   500 ms, so it takes over within a second of the first one's end, and records the handover.
//   A server lock lost with its connection (checked every 500 ms) stops the recording until it
//   is taken again: another recorder may hold it meanwhile.
// - Every 100 ms the change marks of QVR.mdb, QVRA.mdb, QVRB.mdb and Totem.mdb are read (a few
//   bytes of each header, or on a server one statement per file over its rows' transaction
//   ids); a database's tables are read only when its mark moved.
// - An archive that cannot be read starts a gap (recorded with the error), retried every 2 s;
//   the recorder never gives up. What changed meanwhile is recorded when it is readable again.
// - A journal that cannot be written (disk full, read-only share, share down) keeps the events
//   in memory, at most MassimoInAttesa of them (the oldest dropped beyond, and their number
//   recorded), and writes them every 2 s until it can. A damaged journal is renamed aside and a
//   new one started.
#include "archive/lettore.h"
#include "registro/deposito.h"
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
// Also hands every log line to `ascolto` (a test reading what was logged); none by default.
void ascoltaLog(std::function<void(int, const QString&)> ascolto);

class Registratore : public QObject {
    Q_OBJECT
public:
    // `archivio` is a folder or a server URI. `deposito`, when given, is the journal to write in
    // place of the archive's own (a test's journal that fails on demand).
    explicit Registratore(const QString& archivio, QObject* parent = nullptr,
                          std::unique_ptr<registro::Deposito> deposito = {});
    ~Registratore() override;

    // Starts: takes the lock (or waits for it), then records.
    void avvia();
    // Records the stop, writes what is held and releases the lock.
    void ferma();

    bool attivo() const { return m_attivo; }
    // Events seen and not written yet (the journal could not be written).
    size_t inAttesa() const { return m_inAttesa.size(); }
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
    void verificaBlocco();
    void perdiBlocco();
    void inizia();
    void controlla();
    void registra(std::vector<registro::Evento> eventi, bool ancheStato);
    void scrivi();
    QDateTime adesso() const { return QDateTime::currentDateTime(); }

    QString m_cartella;
    QString m_identita;
    LettoreArchivio m_lettore;
    registro::Osservatore m_osservatore;
    std::unique_ptr<registro::Deposito> m_registro;
    std::unique_ptr<registro::Blocco> m_blocco;
    QTimer m_timer;
    QTimer m_timerBlocco;
    qint64 m_prossimaVerifica = 0;
    bool m_attivo = false;
    bool m_atteso = false; // another recorder held the lock when this one started
    bool m_avvisatoBlocco = false;
    std::optional<int> m_erroreBlocco;
    bool m_haBlocco = false;
    bool m_giaAvviato = false;
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
