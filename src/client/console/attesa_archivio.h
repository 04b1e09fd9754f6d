#pragma once
// What the console shows while the archive is busy (another program holds a database: a backup,
// a board, a tool): the busy pointer and the state text "Archivio occupato, attendere...", and
// the window keeps painting. Nothing else runs meanwhile: no key, click or timer reaches the
// program until the archive answers, so no operation starts inside another. When the wait is
// over the pointer and the state text come back as they were.

#include <QPointer>
#include <QString>

class QLabel;

namespace qvr {

class AttesaArchivio {
public:
    // Installs itself as the cursors' waiting hook; `stato` is the label of the state text.
    explicit AttesaArchivio(QLabel* stato);
    ~AttesaArchivio();
    AttesaArchivio(const AttesaArchivio&) = delete;
    AttesaArchivio& operator=(const AttesaArchivio&) = delete;

    bool inAttesa() const { return m_inAttesa; }

private:
    void inizio();
    void continua();
    void fine();

    QPointer<QLabel> m_stato;
    QString m_testoPrima;
    bool m_inAttesa = false;
};

inline constexpr const char* TestoArchivioOccupato = "Archivio occupato, attendere...";

} // namespace qvr
