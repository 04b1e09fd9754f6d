#pragma once
// The board's watch on the archive: every 100 ms it reads the change marks of QVR.mdb, QVRA.mdb
// and QVRB.mdb (a few bytes of each header) and reads a database's records only when its mark
// moved. A failure (share down, a database missing, locked or damaged) is reported once and
// retried every 2 s until the files come back; the model keeps the last state meanwhile.
#include "archive/errori.h"
#include "archive/lettore.h"
#include "tabellone/modello.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace qvr::tabellone {

class Sorvegliante : public QObject {
    Q_OBJECT
public:
    Sorvegliante(const QString& cartella, ModelloTabellone* modello, QObject* parent = nullptr);

    void avvia();
    // One poll now (tests call it directly).
    void controlla();
    bool inErrore() const { return m_inErrore; }

    static constexpr int IntervalloMs = 100;
    static constexpr int RiprovaMs = 2000;

signals:
    void chiamate(const QVector<qvr::tabellone::Chiamata>& nuove);
    void aggiornato();
    void errore(int numero, const QString& testo);
    void ripristinato();

private:
    LettoreArchivio m_lettore;
    ModelloTabellone* m_modello;
    QTimer m_timer;
    std::optional<ImprontaFile> m_qvr, m_qvra, m_qvrb;
    bool m_inErrore = false;
};

} // namespace qvr::tabellone
