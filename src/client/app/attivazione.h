#pragma once
// Activation as the program means it: a window becomes the active window of the program when it
// is first shown, and again when a window of the program that was opened over it (the message
// window, the number request dialog, a message box) closes. Coming back from another application
// is no activation, nor is the closing of the folder chooser, which stands for the system's own
// folder browser and is no window of the program.
//
// It also keeps the widgets' idea of the active window true to the window system's: when the
// focus comes back to the window while a list of another window is still open (the completion
// list of the folder chooser's name field), the widgets would miss it.
//
// Both the settings window (it reads percorsi.txt again) and the console (it places itself) use
// this one definition:
//     auto* a = new Attivazione(this);
//     connect(a, &Attivazione::attivata, this, [this] { ... });

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;

namespace qvr {

class Attivazione : public QObject {
    Q_OBJECT

public:
    // Watches `finestra`, a top-level window; the object is a child of it.
    explicit Attivazione(QWidget* finestra);

signals:
    void attivata();

protected:
    bool eventFilter(QObject* oggetto, QEvent* evento) override;

private:
    void fuocoCambiato(QWindow* ora);
    void seguiIlPopup();
    void allineaPiuTardi();
    void allineaAttiva();

    QWidget* m_finestra;
    bool m_mostrata = false;
    // The windows of the program open over ours.
    QList<QPointer<QWindow>> m_sopra;
};

} // namespace qvr
