#pragma once
// A button's guard against a second press that comes too soon: the second half of a double
// click, a bounce of the mouse button, a key held down. Within the guard after a press has been
// handled, the next press of the same button by mouse or keyboard is dropped before the button
// sees it; a key's auto-repeat never presses it. Deliberate presses are left alone: the guard
// counts from the end of the handled press, covers that button only, and ends as soon as
// anything else of the window is used (azzera()). A press made by the program (click()) is
// never dropped.
#include <QObject>

#include <functional>

class QAbstractButton;

namespace qvr {

class GuardiaPressione : public QObject {
    Q_OBJECT
public:
    // Milliseconds on a clock that never goes back.
    using Orologio = std::function<qint64()>;

    static constexpr int IntervalloMs = 300;

    // Guards `pulsante`; construct it after the button's own handlers are connected, so that the
    // guard starts when they have run.
    explicit GuardiaPressione(QAbstractButton* pulsante, int intervalloMs = IntervalloMs);

    // The clock of every guard (tests); an empty one puts the system's monotonic clock back.
    static void impostaOrologio(Orologio orologio);

    // Another control was used: the next press of the button is a deliberate one.
    void azzera() { m_ultima = -1; }
    // Whether a press now would be taken.
    bool accetterebbe() const;
    int scartate() const { return m_scartate; }

protected:
    bool eventFilter(QObject* oggetto, QEvent* evento) override;

private:
    int m_intervallo;
    qint64 m_ultima = -1; // end of the last handled press, -1: none
    int m_scartate = 0;
};

} // namespace qvr
