#pragma once
// The kiosk's settings window, for the office (behind the PIN): archive folder, office name,
// services, printer, paper, return time, PIN (typed twice), the new day's reset, and the one way
// out of the full-screen kiosk ("Chiudi il totem").

#include "totem/impostazioni_totem.h"

#include <QDialog>

class QComboBox;
class QFormLayout;
class QLayout;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

namespace qvr {
class CampoArchivio;
}

namespace qvr::totem {

class FinestraImpostazioni : public QDialog {
    Q_OBJECT
public:
    FinestraImpostazioni(const ImpostazioniTotem& impostazioni, const QStringList& problemi,
                         QWidget* parent = nullptr);
    // The settings as edited (valid once the window was accepted).
    ImpostazioniTotem impostazioni() const { return m_imp; }

    // The office asked to close the kiosk (the window was rejected).
    bool chiusuraRichiesta() const { return m_chiudi; }

    CampoArchivio* campoCartella() const { return m_cartella; }
    QTableWidget* tabellaServizi() const { return m_servizi; }

private:
    QLayout* costruisciServizi();
    void costruisciStampa(QFormLayout* form);
    void costruisciPin(QFormLayout* form);
    QLayout* costruisciBottoni();
    void aggiungiServizio(const Servizio& s);
    void nuovaGiornata();
    void conferma();

    ImpostazioniTotem m_imp;
    CampoArchivio* m_cartella;
    QLineEdit* m_ufficio;
    QLineEdit* m_indirizzo;
    QTableWidget* m_servizi;
    QComboBox* m_modo;
    QComboBox* m_stampante;
    QLineEdit* m_dispositivo;
    QComboBox* m_carta;
    QSpinBox* m_ritorno;
    QLineEdit* m_pin;
    QLineEdit* m_conferma;
    QLabel* m_esito;
    bool m_chiudi = false;
};

} // namespace qvr::totem
