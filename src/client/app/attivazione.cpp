#include "app/attivazione.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace qvr {

namespace {
// The widget a native window belongs to (null for a window of no widget).
QWidget* widgetDi(const QWindow* finestra) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowHandle() == finestra)
            return w;
    return nullptr;
}
} // namespace

Attivazione::Attivazione(QWidget* finestra) : QObject(finestra), m_finestra(finestra) {
    finestra->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &Attivazione::fuocoCambiato);
}

bool Attivazione::eventFilter(QObject* oggetto, QEvent* evento) {
    if (oggetto != m_finestra) {
        // A list followed by seguiIlPopup(): hidden, and the widgets may learn the focus.
        if (evento->type() == QEvent::Hide) {
            oggetto->removeEventFilter(this);
            allineaPiuTardi();
        }
        return QObject::eventFilter(oggetto, evento);
    }
    // The first showing, before the first paint and also where no window manager activates the
    // window.
    if (oggetto == m_finestra && evento->type() == QEvent::Show && !evento->spontaneous() &&
        !m_mostrata) {
        m_mostrata = true;
        emit attivata();
    }
    return QObject::eventFilter(oggetto, evento);
}

void Attivazione::fuocoCambiato(QWindow* ora) {
    if (ora && ora == m_finestra->windowHandle() && QApplication::activeWindow() != m_finestra)
        seguiIlPopup();
    // Another application, or our own window: nothing opens or closes over ours.
    if (!ora || !m_mostrata || ora == m_finestra->windowHandle() || !m_finestra->isVisible())
        return;
    // A menu or tooltip is no window of the program; nor is the folder chooser, or what it
    // opens: their closing is no activation.
    if (ora->type() == Qt::Popup || ora->type() == Qt::ToolTip)
        return;
    for (const QWidget* w = widgetDi(ora); w; w = w->parentWidget())
        if (qobject_cast<const QFileDialog*>(w))
            return;
    if (m_sopra.contains(ora))
        return;
    m_sopra.append(ora);
    // Its closing, once no other window of the program stays open over ours, makes ours the
    // active window of the program again.
    connect(ora, &QWindow::visibleChanged, this, [this, ora](bool visibile) {
        if (visibile)
            return;
        disconnect(ora, &QWindow::visibleChanged, this, nullptr);
        m_sopra.removeIf([](const QPointer<QWindow>& w) { return !w || !w->isVisible(); });
        if (m_sopra.isEmpty() && m_finestra->isVisible())
            emit attivata();
    });
}

void Attivazione::seguiIlPopup() {
    // The window system gave our window the focus while a list of another window was still open
    // (the completion list of the folder chooser's name field, when Enter closes the chooser):
    // the widgets ignore that focus, and once the list has gone the window would stay without an
    // active window, a focus frame or a focus widget although the keys reach it. The widgets are
    // told again when the list goes.
    // Installing the filter or connecting again is harmless: Qt keeps one of each.
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->installEventFilter(this);
        connect(popup, &QObject::destroyed, this, &Attivazione::allineaPiuTardi,
                Qt::UniqueConnection);
    }
}

void Attivazione::allineaPiuTardi() {
    // Once the list has gone for good: its hiding and closing are done in this turn.
    QTimer::singleShot(0, this, &Attivazione::allineaAttiva);
}

void Attivazione::allineaAttiva() {
    if (QApplication::activePopupWidget() || QApplication::activeWindow() == m_finestra)
        return;
    // A window of the program that is modal over ours keeps the activation.
    if (QWidget* modale = QApplication::activeModalWidget(); modale && modale != m_finestra)
        return;
    if (QGuiApplication::focusWindow() == m_finestra->windowHandle() && m_finestra->isVisible())
        QApplication::setActiveWindow(m_finestra);
}

} // namespace qvr
