#include "console/attesa_archivio.h"

#include "archive/cursore.h"

#include <QApplication>
#include <QLabel>

namespace qvr {

AttesaArchivio::AttesaArchivio(QLabel* stato) : m_stato(stato) {
    Cursore::impostaAttesa([this](Cursore::FaseAttesa fase) {
        switch (fase) {
        case Cursore::FaseAttesa::Inizio:
            inizio();
            break;
        case Cursore::FaseAttesa::Continua:
            continua();
            break;
        case Cursore::FaseAttesa::Fine:
            fine();
            break;
        }
    });
}

AttesaArchivio::~AttesaArchivio() {
    Cursore::impostaAttesa({});
    fine();
}

void AttesaArchivio::inizio() {
    if (m_inAttesa)
        return;
    m_inAttesa = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_stato) {
        m_testoPrima = m_stato->text();
        m_stato->setText(QString::fromUtf8(TestoArchivioOccupato));
    }
    continua();
}

void AttesaArchivio::continua() {
    // Paint and window-system events only: no input, no timer, no socket (the end-of-session
    // signal included), so nothing starts another operation while this one waits.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
}

void AttesaArchivio::fine() {
    if (!m_inAttesa)
        return;
    m_inAttesa = false;
    QApplication::restoreOverrideCursor();
    if (m_stato && m_stato->text() == QString::fromUtf8(TestoArchivioOccupato))
        m_stato->setText(m_testoPrima);
}

} // namespace qvr
