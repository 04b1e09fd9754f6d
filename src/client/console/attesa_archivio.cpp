#include "console/attesa_archivio.h"

#include "archive/cursore.h"
#include "archive/server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace qvr {

namespace {
AttesaArchivio* g_attiva = nullptr;
}

// The archive's thread: runs one piece of work at a time, handed over by the window's thread.
struct AttesaArchivio::Filo {
    std::mutex mutex;
    std::condition_variable cambio;
    std::function<void()> lavoro; // the work waiting to start
    bool finito = false;          // the last work handed over is done
    bool fine = false;
    std::thread filo;

    Filo() : filo([this] { ciclo(); }) {}
    ~Filo() {
        {
            std::lock_guard<std::mutex> b(mutex);
            fine = true;
        }
        cambio.notify_all();
        filo.join();
    }
    bool proprio() const { return std::this_thread::get_id() == filo.get_id(); }

    void ciclo() {
        for (;;) {
            std::function<void()> daFare;
            {
                std::unique_lock<std::mutex> b(mutex);
                cambio.wait(b, [&] { return fine || lavoro; });
                if (!lavoro)
                    break;
                daFare = std::move(lavoro);
                lavoro = nullptr;
            }
            daFare();
            {
                std::lock_guard<std::mutex> b(mutex);
                finito = true;
            }
            cambio.notify_all();
        }
        // This thread's server connections go with it.
        server::chiudiConnessioni();
    }
    void avvia(std::function<void()> daFare) {
        {
            std::lock_guard<std::mutex> b(mutex);
            lavoro = std::move(daFare);
            finito = false;
        }
        cambio.notify_all();
    }
    bool attendi(int millisecondi) {
        std::unique_lock<std::mutex> b(mutex);
        return cambio.wait_for(b, std::chrono::milliseconds(millisecondi), [&] { return finito; });
    }
};

AttesaArchivio::AttesaArchivio(QLabel* stato, const QRect& area)
    : m_stato(stato), m_area(area), m_precedente(g_attiva), m_filo(std::make_unique<Filo>()) {
    g_attiva = this;
    installaGancio();
}

void AttesaArchivio::installaGancio() {
    Cursore::impostaAttesa([this](Cursore::FaseAttesa fase) {
        if (m_filo->proprio()) {
            // A busy database on the archive's thread: the window's thread shows it at once.
            if (fase != Cursore::FaseAttesa::Continua)
                m_occupato = fase == Cursore::FaseAttesa::Inizio;
            return;
        }
        if (!m_stato || QThread::currentThread() != m_stato->thread())
            return; // another thread of the program: no window to show it in
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
    // The one made before this one (if any) is the program's again, with its hook.
    if (g_attiva == this) {
        g_attiva = m_precedente;
        if (m_precedente)
            m_precedente->installaGancio();
        else
            Cursore::impostaAttesa({});
    }
    m_filo.reset();
    fine();
}

AttesaArchivio* AttesaArchivio::attiva() {
    return g_attiva;
}

void AttesaArchivio::eseguiLavoro(const std::function<void()>& lavoro) {
    // Work inside work, or work that an event delivered during a wait started: here and now.
    if (m_filo->proprio() || m_inLavoro) {
        lavoro();
        return;
    }
    m_inLavoro = true;
    m_occupato = false;
    std::exception_ptr errore;
    m_filo->avvia([&] {
        try {
            lavoro();
        } catch (...) {
            errore = std::current_exception();
        }
    });
    QElapsedTimer tempo;
    tempo.start();
    bool mostrata = false;
    while (!m_filo->attendi(PassoMs)) {
        if (!m_inAttesa && (m_occupato || tempo.elapsed() >= SogliaMs)) {
            inizio();
            mostrata = true;
        } else if (m_inAttesa) {
            continua();
        }
    }
    m_inLavoro = false;
    if (mostrata)
        fine();
    if (errore)
        std::rethrow_exception(errore);
}

void AttesaArchivio::inizio() {
    if (m_inAttesa)
        return;
    m_inAttesa = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_stato) {
        m_testoPrima = m_stato->text();
        if (m_area.isValid()) {
            m_geometriaPrima = m_stato->geometry();
            m_aCapoPrima = m_stato->wordWrap();
            m_sfondoPrima = m_stato->autoFillBackground();
            m_stato->setGeometry(m_area);
            m_stato->setWordWrap(true);
            m_stato->setAutoFillBackground(true);
            m_stato->raise();
        }
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
    if (!m_stato)
        return;
    if (m_area.isValid()) {
        m_stato->setGeometry(m_geometriaPrima);
        m_stato->setWordWrap(m_aCapoPrima);
        m_stato->setAutoFillBackground(m_sfondoPrima);
    }
    if (m_stato->text() == QString::fromUtf8(TestoArchivioOccupato))
        m_stato->setText(m_testoPrima);
}

} // namespace qvr
