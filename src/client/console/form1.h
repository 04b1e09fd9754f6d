#pragma once
// The calling console: the main window of the client, from which the operator of one station
// calls ticket numbers. Small, always on top, in the bottom right corner of the screen.
//
// The window holds the controls and the event handlers; the archive work is done by
// console/operazioni.h, the history file by console/cronologia.h. Every handler runs through
// eseguiGestito(): a failure it does not handle becomes the central report and ends the program.
// Failures of the shared counter file Nr4All.txt are the exception: they are reported with their
// number and description, nothing changes and the console goes on.

#include "console/attesa_archivio.h"
#include "console/copia_unica.h"
#include "console/cronologia.h"
#include "console/guardia_pressione.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QSessionManager;
class QTimer;
class QTreeWidget;

namespace qvr {

class Apertura;
class CampoNumero;
class EtichettaCollegamento;
class ErroreQvr;

class Form1 : public QMainWindow {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // The load sequence, once per run, before the window is shown; run it inside eseguiGestito.
    // Ends the program (terminaProgramma) when another copy already runs on the machine.
    void Carica();

    // Controls, by their names.
    QLabel* Label1(int indice) const { return m_label1.at(indice); }
    EtichettaCollegamento* Label2() const { return m_label2; }
    QLabel* Label3() const { return m_label3; }
    QLabel* Label4() const { return m_label4; }
    QLabel* Label5() const { return m_label5; }
    QPushButton* Command1(int indice) const { return m_command1.at(indice); }
    QGroupBox* GB1() const { return m_gb1; }
    CampoNumero* f() const { return m_f; }
    QPushButton* SelNum() const { return m_selNum; }
    QTreeWidget* LB1() const { return m_lb1; }
    QTimer* Timer1() const { return m_timer1; }
    QMenu* s1() const { return m_s1; }
    QAction* AK(int numero) const { return m_ak.at(numero - 1); }

    // Window members set at load.
    bool Dopo99Singola() const { return m_dopo99Singola; }
    bool Dopo99Standard() const { return m_dopo99Standard; }
    QString TabellaDisplay() const { return m_tabellaDisplay; }
    Cronologia& cronologia() { return m_cronologia; }
    // The guard of " Avanti     " against a second press that comes too soon.
    GuardiaPressione* guardiaAvanti() const { return m_guardiaAvanti; }
    // The launcher loaded again, hidden, by load step 3 (null before the load).
    Apertura* aperturaNascosta() const { return m_apertura.get(); }

    // Number functions of the menu and of the manual panel.
    void ChiamaNumeroScelto();
    void ChiamaPrecedente();
    void AzzeraNumero();
    void ApriRichiestaNumero();
    // Records NumeroChiamato in the history list and file.
    void RegistraChiamata();

    // Puts the window in its place: left edge 4200 twips from the screen's right edge, top edge
    // 2700 twips above its bottom edge, moved up as far as needed to keep the whole window on
    // the screen. Runs at every activation (app/attivazione.h).
    void colloca();

    // Client heights below the menu, in twips: history hidden and shown.
    static constexpr int LarghezzaClient = 4125;
    static constexpr int AltezzaClientRidotta = 1365;
    static constexpr int AltezzaClientEstesa = 5130 - 840;

protected:
    void closeEvent(QCloseEvent* evento) override;

private:
    void prendiCopiaUnica();
    int leggiConfigurazione();
    std::optional<QString> numeroIniziale();
    void creaControlli();
    void creaMenu();
    void creaPulsanti();
    void creaPannelloManuale();
    void creaEtichette();
    void creaCronologia();
    void impostaAltezzaClient(int twips);

    void Command1_Click(int indice);
    void Label2_Click();
    void LB1_ColumnClick();
    void Timer1_Timer();
    void AK5_Click();
    void AK6_Click();
    void richiestaChiusura();
    void chiusura();

    // The single-numbering call; with `conCoda` only when someone is still waiting at the
    // kiosk. False when nothing was drawn (a counter failure shown, or nobody waiting).
    bool chiamaSingola(bool conCoda = false);
    bool aggiornaCodaSingola();
    void aggiornaCodaStandard();
    void segnalaErroreContatore(const ErroreQvr& errore);
    void guastoMonitor(const ErroreQvr& errore);
    void adattaColonne();

    std::array<QLabel*, 3> m_label1{};
    EtichettaCollegamento* m_label2 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label4 = nullptr;
    QLabel* m_label5 = nullptr;
    std::array<QPushButton*, 2> m_command1{};
    GuardiaPressione* m_guardiaAvanti = nullptr;
    QGroupBox* m_gb1 = nullptr;
    CampoNumero* m_f = nullptr;
    QPushButton* m_selNum = nullptr;
    QTreeWidget* m_lb1 = nullptr;
    QTimer* m_timer1 = nullptr;
    QMenu* m_s1 = nullptr;
    std::array<QAction*, 6> m_ak{};
    QWidget* m_client = nullptr;

    bool m_dopo99Singola = false;
    bool m_dopo99Standard = false;
    QString m_tabellaDisplay;
    Cronologia m_cronologia;
    std::unique_ptr<CopiaUnica> m_copiaUnica;
    int m_idChiusuraCopia = 0;
    std::unique_ptr<AttesaArchivio> m_attesa;
    std::unique_ptr<Apertura> m_apertura;

    int m_altezzaClient = AltezzaClientRidotta;
    Qt::SortOrder m_ordine = Qt::AscendingOrder;
    bool m_ordinata = false;
    bool m_tickInCorso = false;
    QString m_guastoMonitor; // the monitor's failure last reported, while it lasts
    bool m_chiusuraInCorso = false;
};

} // namespace qvr
