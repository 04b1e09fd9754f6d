#pragma once
// The kiosk's window, made for a finger: the office's name, the date and time, one large
// button per service (keys 1..9 press them too), the number screen, the notices, and a status
// line for the office with the settings button.
//
// The settings open only when the office asks, behind the PIN, with a growing pause after wrong
// tries (TentativiPin); a damaged PIN keeps them locked; a kiosk without a PIN shows a page that
// sets one before it serves. In full screen the window ignores a close request (Alt+F4): the
// kiosk is left through "Chiudi il totem" in its settings.

#include "totem/chiosco.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QGridLayout;
class QTimer;

namespace qvr::totem {

class FinestraImpostazioni;

class FinestraTotem : public QWidget {
    Q_OBJECT
public:
    // `problemi`: what was wrong with the settings file; shown in the status line.
    FinestraTotem(Chiosco* chiosco, const QStringList& problemi, QWidget* parent = nullptr);

    QList<QPushButton*> bottoniServizi() const { return m_bottoni; }
    // The number or the notice on screen ("" on the services).
    QString testoNumero() const;
    QString testoStato() const;
    QPushButton* bottoneImpostazioni() const { return m_impostazioni; }
    // Replaces the PIN request (tests): returns the PIN typed, or nothing when cancelled.
    void impostaRichiestaPin(std::function<std::optional<QString>()> richiesta) {
        m_richiestaPin = std::move(richiesta);
    }

    // Replaces the clock of the pause after wrong PINs (tests).
    void impostaOrologioPin(TentativiPin::Orologio orologio) {
        m_tentativi = TentativiPin(std::move(orologio));
    }
    // Replaces the settings window (tests): gets the window, returns how it closed.
    void impostaApertura(std::function<int(FinestraImpostazioni&)> apertura) {
        m_apertura = std::move(apertura);
    }
    // The page that sets the first PIN: its two fields and its button.
    QLineEdit* campoPrimoPin() const { return m_primoPin; }
    QLineEdit* campoConfermaPrimoPin() const { return m_confermaPrimoPin; }
    QPushButton* bottonePrimoPin() const { return m_impostaPrimoPin; }

    // Opens the settings window behind the PIN.
    void apriImpostazioni();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    QWidget* costruisciPaginaNumero();
    QLayout* costruisciRigaStato();
    QWidget* costruisciPaginaPin();
    void impostaPrimoPin();
    void avvisa(const QString& testo);
    void costruisciServizi();
    void aggiornaSchermata();
    void aggiornaStato();
    void aggiornaOra();

    Chiosco* m_chiosco;
    QStringList m_problemi;
    QLabel* m_titolo;
    QLabel* m_ora;
    QStackedWidget* m_pagine;
    QWidget* m_paginaServizi;
    QGridLayout* m_griglia;
    QList<QPushButton*> m_bottoni;
    QLabel* m_numero;
    QLabel* m_servizio;
    QLabel* m_davanti;
    QLabel* m_avvisoStampa;
    QLabel* m_avviso;
    QLabel* m_stato;
    QPushButton* m_impostazioni;
    QLineEdit* m_primoPin;
    QLineEdit* m_confermaPrimoPin;
    QPushButton* m_impostaPrimoPin;
    QLabel* m_esitoPrimoPin;
    QTimer* m_finoAvviso;
    bool m_uscita = false;
    TentativiPin m_tentativi;
    std::function<std::optional<QString>()> m_richiestaPin;
    std::function<int(FinestraImpostazioni&)> m_apertura;
};

} // namespace qvr::totem
