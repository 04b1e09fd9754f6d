#pragma once
// The kiosk's window, made for a finger: the office's name, the date and time, one large
// button per service (keys 1..9 press them too), the number screen, the notices, and a status
// line for the office with the settings button.

#include "totem/chiosco.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;
class QGridLayout;

namespace qvr::totem {

class FinestraTotem : public QWidget {
    Q_OBJECT
public:
    // `problemi`: what was wrong with the settings file; shown, and the settings window opens.
    FinestraTotem(Chiosco* chiosco, const QStringList& problemi, QWidget* parent = nullptr);

    QList<QPushButton*> bottoniServizi() const { return m_bottoni; }
    QString testoNumero() const;
    QString testoStato() const;
    QPushButton* bottoneImpostazioni() const { return m_impostazioni; }
    // Replaces the PIN request (tests): returns the PIN typed, or nothing when cancelled.
    void impostaRichiestaPin(std::function<std::optional<QString>()> richiesta) {
        m_richiestaPin = std::move(richiesta);
    }

    // Opens the settings window behind the PIN.
    void apriImpostazioni();

protected:
    void showEvent(QShowEvent* e) override;

private:
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
    bool m_primaVolta = true;
    std::function<std::optional<QString>()> m_richiestaPin;
};

} // namespace qvr::totem
