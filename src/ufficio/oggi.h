#pragma once
// The day as it stands: each station's user, mode, number and state, the people waiting per
// kiosk sequence (counted as the consoles count them, round the sequence after 99 when the
// wrap is on) and the calls seen since the window opened.
//
// The watch reads only what changed: every half second, on a thread of its own, it reads the
// change marks of QVR.mdb, QVRA.mdb, QVRB.mdb and Totem.mdb (a few header bytes of each file,
// the board's own reader; on a server the rows' marks) and reads the day again only when one
// moved. A failure is reported and retried every 2 s.

#include "archive/biglietti.h"
#include "archive/lettore.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

class QThread;
class QTimer;

namespace qvr::ufficio {

struct StatoPostazione {
    bool singola = false;
    qint32 idUtente = 0;
    QString nominativo;
    qint32 numero = 0; // the display record's, or in single numbering the single record's
    int stato = 0;     // 1 absent, 2 waiting, 3 in progress
    QString guasto;    // the record could not be read: why
    bool operator==(const StatoPostazione&) const = default;
};

struct Giornata {
    std::array<StatoPostazione, nomi::NumeroPostazioni> postazioni;
    std::array<qint32, nomi::NumeroSequenze> biglietti{}; // P1..P11: the last ticket issued
    std::array<qint32, nomi::NumeroSequenze> inAttesa{};  // people waiting per sequence P1..P11
    qint32 ultimoSingola = 0;                             // the first item of Nr4All.txt
    bool totem = false;
    biglietti::Regole regole;
    bool operator==(const Giornata& g) const {
        return postazioni == g.postazioni && biglietti == g.biglietti && inAttesa == g.inAttesa &&
               ultimoSingola == g.ultimoSingola && totem == g.totem &&
               regole.dopo99Singola == g.regole.dopo99Singola &&
               regole.dopo99Standard == g.regole.dopo99Standard;
    }
};

// One full read of the day.
Giornata leggiGiornata(const QString& archivio);

// A call seen between two reads: a standard station's number or state moved to a call
// (state 3), or a single station's record took a new number.
struct Chiamata {
    QDateTime ora;
    int postazione = 0;
    qint32 numero = 0;
};
QVector<Chiamata> chiamateTra(const Giornata& prima, const Giornata& dopo, const QDateTime& ora);
// The latest `quante` calls of `giorno` in the office's journal (kept by qvr-server), newest
// first; none when the archive has no journal yet. Other failures are ErroreQvr.
QVector<Chiamata> chiamateDelRegistro(const QString& archivio, const QDate& giorno, int quante);

// "In corso...", "Attendere...", "Assente...", or "Stato N" for another value.
QString testoStato(int stato);

// The marks whose change makes the day be read again.
using Marche = QVector<quint64>;
Marche leggiMarche(const QString& archivio);

// The watch. avvia() starts its thread; letta() and errore() come on the owner's thread. Its
// end does not wait for a poll that hangs on a server that does not answer: the poll is left
// to end on its own, and nothing comes of it.
class Osservatore : public QObject {
    Q_OBJECT
public:
    explicit Osservatore(const QString& archivio, QObject* parent = nullptr);
    ~Osservatore() override;
    void avvia();
    // The next poll reads the day whatever the marks (after the window's own writes).
    void rileggi();
    static constexpr int IntervalloMs = 500;
    static constexpr int RiprovaMs = 2000;
    // How long the owner's end waits for a poll under way before leaving it to end alone.
    static constexpr int AttesaFineMs = 100;

signals:
    void letta(const qvr::ufficio::Giornata& g);
    void errore(int numero, const QString& testo);

private:
    struct Legame;
    class Sonda;
    QThread* m_filo = nullptr;
    QString m_archivio;
    std::shared_ptr<Legame> m_legame;
};

} // namespace qvr::ufficio

Q_DECLARE_METATYPE(qvr::ufficio::Giornata)
