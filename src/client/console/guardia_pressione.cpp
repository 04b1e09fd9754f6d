#include "console/guardia_pressione.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>

namespace qvr {

namespace {
GuardiaPressione::Orologio& orologio() {
    static GuardiaPressione::Orologio o;
    return o;
}
qint64 adesso() {
    if (orologio())
        return orologio()();
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t.elapsed();
}
bool tastoCheLoPreme(int tasto) {
    return tasto == Qt::Key_Space || tasto == Qt::Key_Return || tasto == Qt::Key_Enter ||
           tasto == Qt::Key_Select;
}
} // namespace

GuardiaPressione::GuardiaPressione(QAbstractButton* pulsante, int intervalloMs)
    : QObject(pulsante), m_intervallo(intervalloMs) {
    pulsante->installEventFilter(this);
    connect(pulsante, &QAbstractButton::clicked, this, [this] { m_ultima = adesso(); });
}

void GuardiaPressione::impostaOrologio(Orologio o) {
    orologio() = std::move(o);
}

bool GuardiaPressione::accetterebbe() const {
    return m_ultima < 0 || adesso() - m_ultima >= m_intervallo;
}

bool GuardiaPressione::eventFilter(QObject* oggetto, QEvent* evento) {
    bool pressione = false;
    switch (evento->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        pressione = static_cast<QMouseEvent*>(evento)->button() == Qt::LeftButton;
        break;
    case QEvent::KeyPress: {
        const auto* tasto = static_cast<QKeyEvent*>(evento);
        if (!tastoCheLoPreme(tasto->key()))
            break;
        if (tasto->isAutoRepeat()) {
            ++m_scartate; // a key held down is one press
            return true;
        }
        pressione = true;
        break;
    }
    default:
        break;
    }
    if (pressione && !accetterebbe()) {
        ++m_scartate;
        return true;
    }
    return QObject::eventFilter(oggetto, evento);
}

} // namespace qvr
