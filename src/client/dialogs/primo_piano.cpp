#include "dialogs/primo_piano.h"

#include <QWidget>

namespace qvr {

int PrimoPiano(QWidget* finestra, int flag) {
    if (!finestra)
        return 0;
    const bool inCima = flag == -1;
    if (finestra->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == inCima)
        return inCima ? 1 : 0;

    // Changing a window flag recreates the native window and hides it: put it back where it
    // was, with the same size and state.
    const bool visibile = finestra->isVisible();
    const QRect geometria = finestra->geometry();
    const Qt::WindowStates stato = finestra->windowState();
    finestra->setWindowFlag(Qt::WindowStaysOnTopHint, inCima);
    if (visibile) {
        finestra->setGeometry(geometria);
        finestra->setWindowState(stato);
        finestra->show();
    }
    if (!inCima)
        return 0;
    return finestra->windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? 1 : 0;
}

} // namespace qvr
