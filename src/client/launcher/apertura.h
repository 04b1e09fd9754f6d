#pragma once
// The launcher, the first window of the program. Before it is shown, Carica() reads the station
// settings, shows the station and its user and whether the ticket kiosk is in use; when the
// settings file is missing or the archive cannot be reached it leads the operator through the
// settings window and tries again. From here the operator starts the console, opens the settings
// window, switches the kiosk on or off for the whole queue system, or quits.

#include "archive/cursore.h"

#include <QLabel>
#include <QWidget>

#include <array>

class QCheckBox;
class QPushButton;

namespace qvr {

// A label that acts as a link: pointing-hand pointer, reachable with Tab, activated by a click or
// by Space / Enter.
class EtichettaCollegamento : public QLabel {
    Q_OBJECT

public:
    explicit EtichettaCollegamento(const QString& testo, QWidget* parent = nullptr);

signals:
    void attivata();

protected:
    void mouseReleaseEvent(QMouseEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;
    void focusInEvent(QFocusEvent* evento) override;
    void focusOutEvent(QFocusEvent* evento) override;
};

class Apertura : public QWidget {
    Q_OBJECT

public:
    explicit Apertura(QWidget* parent = nullptr);

    // The load sequence: settings file (with its recovery), station and user, kiosk setting.
    // Shows its own messages; ends the program (terminaProgramma) where the start cannot go on.
    // An archive failure it does not recover from leaves as ErroreQvr for the caller's report.
    // Callable again on a hidden launcher.
    void Carica();

    // CB3 is checked: the kiosk is in use according to the archive (or the operator's click).
    bool totemSpuntato() const;

    QLabel* Label1(int indice) const { return indice == 0 ? m_label1_0 : nullptr; }
    QLabel* Label3() const { return m_label3; }
    EtichettaCollegamento* Label2() const { return m_label2; }
    QCheckBox* CB1() const { return m_cb1; }
    QCheckBox* CB2() const { return m_cb2; }
    QCheckBox* CB3() const { return m_cb3; }
    QPushButton* PB1(int indice) const { return m_pb1.at(indice); }
    QLabel* Image1() const { return m_image1; }

    // The question that offers a way out while the archive stays unreachable at start.
    static const QString TestoUscita;

signals:
    // "Avvia Client": TotemInUso is set and the launcher is closed; the console is to be shown.
    void avviaClientRichiesto();

protected:
    void closeEvent(QCloseEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;

private:
    void disponi();
    void leggiImpostazioni();
    bool apriPostazioni();
    void impostazioniInAvvio();
    void chiudiLauncher();

    void CB3_Click();
    void PB1_Click(int indice);
    void Label2_Click();

    QLabel* m_label1_0 = nullptr;
    QLabel* m_label3 = nullptr;
    EtichettaCollegamento* m_label2 = nullptr;
    QCheckBox* m_cb1 = nullptr;
    QCheckBox* m_cb2 = nullptr;
    QCheckBox* m_cb3 = nullptr;
    std::array<QPushButton*, 3> m_pb1{};
    QLabel* m_image1 = nullptr;

    Cursore m_data1; // QVR.mdb
    Cursore m_data2; // Totem.mdb

    bool m_chiusuraInterna = false;
    bool m_caricaCasella = false; // the load sets CB3: nothing to store
};

} // namespace qvr
