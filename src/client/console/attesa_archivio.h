#pragma once
// What the console shows while the archive is busy or slow: the busy pointer and the state text
// "Archivio occupato, attendere...", and the window keeps painting. Nothing else runs meanwhile:
// no key, click or timer reaches the program until the archive answers, so no operation starts
// inside another. When the wait is over the pointer and the state text come back as they were.
//
// The console's archive work runs through esegui(): on a thread of the archive's own, while the
// window's thread waits for it. A database another program holds (a backup, a board, a tool)
// shows the wait at once; any other operation that has not answered after SogliaMs (a server
// that stopped answering, a slow share) shows it then. Connections to a server archive are kept
// per thread, so the archive's thread keeps its own between operations.

#include <QPointer>
#include <QRect>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

class QLabel;

namespace qvr {

class AttesaArchivio {
public:
    // Installs itself as the cursors' waiting hook; `stato` is the label of the state text.
    // While the wait shows, the label covers `area` (in its parent) when one is given, on a
    // background of its own and wrapping its words, so that the whole text is seen where the
    // label alone is too narrow for it. Starts the archive's thread. The newest one is the
    // program's (attiva()); when it goes, the one made before it is again.
    explicit AttesaArchivio(QLabel* stato, const QRect& area = {});
    ~AttesaArchivio();
    AttesaArchivio(const AttesaArchivio&) = delete;
    AttesaArchivio& operator=(const AttesaArchivio&) = delete;

    bool inAttesa() const { return m_inAttesa; }
    // An operation handed to the archive's thread has not ended yet.
    bool inLavoro() const { return m_inLavoro; }

    // Runs `lavoro` on the archive's thread and returns its result; a failure it throws is
    // thrown again here, as it is. Called on the archive's thread itself (work inside work), it
    // runs at once.
    template <typename F> auto esegui(F&& lavoro) -> std::invoke_result_t<F&> {
        using Risultato = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<Risultato>) {
            eseguiLavoro([&] { lavoro(); });
        } else {
            std::optional<Risultato> esito;
            eseguiLavoro([&] { esito.emplace(lavoro()); });
            return std::move(*esito);
        }
    }

    // The program's instance, or null when there is none (work then runs where it is called).
    static AttesaArchivio* attiva();

    // How long an operation may go without an answer before the wait is shown, and how often
    // the window paints while it waits.
    static constexpr int SogliaMs = 250;
    static constexpr int PassoMs = 25;

private:
    struct Filo;

    void eseguiLavoro(const std::function<void()>& lavoro);
    void installaGancio();
    void inizio();
    void continua();
    void fine();

    QPointer<QLabel> m_stato;
    QRect m_area;
    QString m_testoPrima;
    QRect m_geometriaPrima;
    bool m_aCapoPrima = false;
    bool m_sfondoPrima = false;
    bool m_inAttesa = false;
    bool m_inLavoro = false;
    AttesaArchivio* m_precedente;
    std::atomic<bool> m_occupato{false}; // the archive's thread waits on a busy database
    std::unique_ptr<Filo> m_filo;
};

// Runs `lavoro` through the program's AttesaArchivio, or right here when there is none.
template <typename F> auto eseguiArchivio(F&& lavoro) -> std::invoke_result_t<F&> {
    if (AttesaArchivio* attesa = AttesaArchivio::attiva())
        return attesa->esegui(std::forward<F>(lavoro));
    return lavoro();
}

inline constexpr const char* TestoArchivioOccupato = "Archivio occupato, attendere...";

} // namespace qvr
