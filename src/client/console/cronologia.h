#pragma once
// The station's call history file "Cronologia-NN.txt" in the working directory, and the rule
// for the minutes elapsed between two calls.
//
// The file is opened for appending when the console loads and held for the whole run; every
// call appends one line, e.g.  "12","14.35","07/12/2026",5  followed by CR LF. Each line is
// written with one write and flushed to the disk before registra() returns, so a crash never
// loses a recorded call and lines of an earlier run are never touched.
//
// Elapsed minutes: whole minutes between the previous call recorded in this run and this one,
// both taken to the minute shown in the line, counted on the full date and time (23.58 followed
// by 00.03 the next day gives 5). The first call of a run records 0.
//
// Failures (file not creatable, write failed, disk full) are ErroreQvr with 75, 76, 57 or 61.

#include <QDateTime>
#include <QString>

#include <functional>

namespace qvr {

class Cronologia {
public:
    using Orologio = std::function<QDateTime()>;

    // Without a clock the system's local time is used.
    explicit Cronologia(Orologio orologio = {});
    ~Cronologia();
    Cronologia(const Cronologia&) = delete;
    Cronologia& operator=(const Cronologia&) = delete;

    // "Cronologia-" + station with at least two digits + ".txt".
    static QString nomeFile(int postazione);

    // Opens (creating it when missing) the file for appending and registers it to be closed
    // when the program ends. Closes a file opened before.
    void apri(const QString& percorso);
    void chiudi();
    bool aperta() const { return m_fd >= 0; }
    QString percorso() const { return m_percorso; }

    void impostaOrologio(Orologio orologio);

    struct Voce {
        QString numero; // "12"
        QString orario; // "14.35"
        QString data;   // "07/12/2026"
        qint64 trascorsi = 0;
        QByteArray riga; // the line as written, CR LF included
    };

    // Records a call of `numero` now: computes the line, appends it and flushes it to disk.
    Voce registra(qint32 numero);

    // Calls recorded in this run.
    qint32 contaChiamate() const { return m_contaChiamate; }

private:
    void scrivi(const QByteArray& riga);

    Orologio m_orologio;
    QString m_percorso;
    int m_fd = -1;
    int m_idChiusura = 0;
    qint32 m_contaChiamate = 0;
    bool m_haPrecedente = false;
    qint64 m_minutoPrecedente = 0; // minutes since the epoch of the previous recorded call
};

} // namespace qvr
