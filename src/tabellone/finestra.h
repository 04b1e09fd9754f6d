#pragma once
// The board's windows: the waiting-room board itself and its settings window.
#include "tabellone/annunciatore.h"
#include "tabellone/impostazioni.h"
#include "tabellone/modello.h"
#include "tabellone/sorvegliante.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <memory>

class QCheckBox;
class QFrame;
class QLineEdit;
class QSlider;

namespace qvr {
class CampoArchivio;
}

namespace qvr::tabellone {

// The big number: tells when it has been painted with a new text (the benchmark measures the
// time from a station's commit to this moment).
class EtichettaNumero : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void dipinto(const QString& testo);

protected:
    void paintEvent(QPaintEvent* e) override;
};

class FinestraTabellone : public QWidget {
    Q_OBJECT
public:
    // `registro`: when not empty, every call shown is appended to that file as a line
    // "postazione numero" (for tests and for an office that wants a record of the calls).
    explicit FinestraTabellone(const Impostazioni& impostazioni, const QString& registro = {},
                               QWidget* parent = nullptr);

    void avvia();
    const ModelloTabellone& modello() const { return *m_modello; }
    EtichettaNumero* etichettaNumero() const { return m_numero; }
    Annunciatore* annunciatore() const { return m_annunciatore; }
    QString testoBanner() const;
    // The watch on the archive (none while no archive is set).
    const Sorvegliante* sorvegliante() const { return m_sorvegliante; }
    // A notice for the status line (a settings file that could not be read).
    void mostraAvviso(const QString& testo);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void costruisci();
    QWidget* costruisciPannello();
    QWidget* costruisciPrecedenti();
    void applica(const Impostazioni& i);
    void nuoveChiamate(const QVector<Chiamata>& c);
    // The last call's panel lit (a new call) or back to its colour.
    void evidenzia(bool accesa);
    void mostra();
    void mostraTessere();
    void scala();
    void apriImpostazioni();
    void aggiornaStato();
    void mostraBanner(const QString& testo);

    Impostazioni m_impostazioni;
    std::unique_ptr<ModelloTabellone> m_modello;
    Sorvegliante* m_sorvegliante = nullptr;
    Annunciatore* m_annunciatore = nullptr;
    QFile m_registro;
    QString m_erroreImpostazioni;

    QLabel* m_titolo = nullptr;
    QLabel* m_ora = nullptr;
    QLabel* m_banner = nullptr;
    QFrame* m_pannello = nullptr;
    QLabel* m_etichettaUltima = nullptr;
    EtichettaNumero* m_numero = nullptr;
    QLabel* m_postazione = nullptr;
    QLabel* m_nominativo = nullptr;
    QLabel* m_intestazionePrecedenti = nullptr;
    QVector<QLabel*> m_precedenti;
    QWidget* m_zonaTessere = nullptr;
    struct VistaTessera {
        QFrame* riquadro;
        QLabel* numero;
        QLabel* didascalia;
    };
    QVector<VistaTessera> m_tessere;
    QLabel* m_riga = nullptr;
    QTimer m_evidenza;
    QTimer m_orologio;
    bool m_evidenziata = false;
};

class FinestraImpostazioni : public QDialog {
    Q_OBJECT
public:
    explicit FinestraImpostazioni(const Impostazioni& i, QWidget* parent = nullptr);
    Impostazioni impostazioni() const;

    CampoArchivio* campoArchivio() const { return m_archivio; }

private:
    Impostazioni m_base;
    CampoArchivio* m_archivio;
    QLineEdit* m_titolo;
    QVector<QCheckBox*> m_postazioni;
    QCheckBox* m_nominativi;
    QCheckBox* m_voce;
    QSlider* m_volume;
};

} // namespace qvr::tabellone
