#include "totem/finestra_totem.h"

#include "totem/finestra_impostazioni.h"

#include <QDateTime>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace qvr::totem {

namespace {

QLabel* etichetta(const QString& nome, int corpo, bool grassetto = false) {
    auto* l = new QLabel;
    l->setObjectName(nome);
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    QFont f = l->font();
    f.setPointSize(corpo);
    f.setBold(grassetto);
    l->setFont(f);
    return l;
}

} // namespace

FinestraTotem::FinestraTotem(Chiosco* chiosco, const QStringList& problemi, QWidget* parent)
    : QWidget(parent), m_chiosco(chiosco), m_problemi(problemi) {
    setWindowTitle(QStringLiteral("QVR Totem"));
    setStyleSheet(QStringLiteral(
        "FinestraTotem, QStackedWidget { background: #f4f6f8; }"
        "QPushButton[servizio=\"true\"] { background: #1f5fa8; color: white; border-radius: 18px;"
        " padding: 24px; }"
        "QPushButton[servizio=\"true\"]:pressed { background: #153f70; }"));
    auto* colonna = new QVBoxLayout(this);
    m_titolo = etichetta(QStringLiteral("titolo"), 34, true);
    m_ora = etichetta(QStringLiteral("ora"), 18);
    colonna->addWidget(m_titolo);
    colonna->addWidget(m_ora);

    m_pagine = new QStackedWidget;
    colonna->addWidget(m_pagine, 1);

    m_paginaServizi = new QWidget;
    m_griglia = new QGridLayout(m_paginaServizi);
    m_griglia->setSpacing(24);
    m_pagine->addWidget(m_paginaServizi);

    auto* paginaNumero = new QWidget;
    auto* colonnaNumero = new QVBoxLayout(paginaNumero);
    m_numero = etichetta(QStringLiteral("numero"), 64, true);
    m_servizio = etichetta(QStringLiteral("servizio"), 32, true);
    m_davanti = etichetta(QStringLiteral("davanti"), 24);
    m_avvisoStampa = etichetta(QStringLiteral("avvisoStampa"), 24, true);
    m_avvisoStampa->setStyleSheet(QStringLiteral("color: #b00000;"));
    colonnaNumero->addStretch();
    colonnaNumero->addWidget(m_numero);
    colonnaNumero->addWidget(m_servizio);
    colonnaNumero->addWidget(m_davanti);
    colonnaNumero->addWidget(m_avvisoStampa);
    colonnaNumero->addStretch();
    m_pagine->addWidget(paginaNumero);

    m_avviso = etichetta(QStringLiteral("avviso"), 36, true);
    m_pagine->addWidget(m_avviso);

    auto* rigaStato = new QHBoxLayout;
    m_stato = new QLabel;
    m_stato->setObjectName(QStringLiteral("stato"));
    m_stato->setAccessibleName(QStringLiteral("Stato del totem"));
    m_stato->setWordWrap(true);
    m_impostazioni = new QPushButton(QStringLiteral("Impostazioni"));
    m_impostazioni->setObjectName(QStringLiteral("impostazioni"));
    m_impostazioni->setFlat(true);
    m_impostazioni->setFocusPolicy(Qt::NoFocus);
    connect(m_impostazioni, &QPushButton::clicked, this, &FinestraTotem::apriImpostazioni);
    rigaStato->addWidget(m_stato, 1);
    rigaStato->addWidget(m_impostazioni);
    colonna->addLayout(rigaStato);

    for (int i = 0; i < 9; ++i) {
        auto* tasto = new QShortcut(QKeySequence(Qt::Key_1 + i), this);
        connect(tasto, &QShortcut::activated, this, [this, i] {
            if (i < m_bottoni.size())
                m_bottoni[i]->click();
        });
    }

    connect(m_chiosco, &Chiosco::schermataCambiata, this, &FinestraTotem::aggiornaSchermata);
    connect(m_chiosco, &Chiosco::statoCambiato, this, &FinestraTotem::aggiornaStato);
    connect(m_chiosco, &Chiosco::stampaFinita, this, &FinestraTotem::aggiornaSchermata);
    auto* orologio = new QTimer(this);
    connect(orologio, &QTimer::timeout, this, &FinestraTotem::aggiornaOra);
    orologio->start(1000);
    auto* controllo = new QTimer(this);
    connect(controllo, &QTimer::timeout, m_chiosco, &Chiosco::controlla);
    controllo->start(5000);

    costruisciServizi();
    m_chiosco->controlla();
    aggiornaOra();
    aggiornaSchermata();
    aggiornaStato();
}

void FinestraTotem::costruisciServizi() {
    qDeleteAll(m_bottoni);
    m_bottoni.clear();
    const auto& servizi = m_chiosco->impostazioni().servizi;
    const int colonne = servizi.size() > 4 ? 2 : 1;
    for (int i = 0; i < servizi.size(); ++i) {
        auto* b = new QPushButton(servizi[i].etichetta);
        b->setProperty("servizio", true);
        b->setObjectName(QStringLiteral("servizio%1").arg(i + 1));
        b->setAccessibleName(servizi[i].etichetta);
        b->setAccessibleDescription(i < 9 ? QStringLiteral("Prende un numero (tasto %1)").arg(i + 1)
                                          : QStringLiteral("Prende un numero"));
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setMinimumHeight(90);
        QFont f = b->font();
        f.setPointSize(30);
        f.setBold(true);
        b->setFont(f);
        connect(b, &QPushButton::clicked, this, [this, i] { m_chiosco->premi(i); });
        m_griglia->addWidget(b, i / colonne, i % colonne);
        m_bottoni << b;
    }
    m_titolo->setText(m_chiosco->impostazioni().ufficio);
}

QString FinestraTotem::testoNumero() const {
    return m_pagine->currentIndex() == 1 ? m_numero->text() : m_avviso->text();
}

QString FinestraTotem::testoStato() const {
    return m_stato->text();
}

void FinestraTotem::aggiornaOra() {
    m_ora->setText(
        QLocale(QLocale::Italian)
            .toString(QDateTime::currentDateTime(), QStringLiteral("dddd d MMMM yyyy  HH:mm")));
}

void FinestraTotem::aggiornaSchermata() {
    switch (m_chiosco->schermata()) {
    case Schermata::Servizi:
        m_pagine->setCurrentIndex(0);
        break;
    case Schermata::Numero: {
        const auto& b = m_chiosco->biglietto();
        m_numero->setText(QStringLiteral("Il suo numero è %1").arg(b.numero));
        m_servizio->setText(m_chiosco->servizioMostrato());
        m_davanti->setText(rigaDavanti(b.davanti));
        m_avvisoStampa->setText(
            m_chiosco->stampanteNonDisponibile()
                ? QStringLiteral("Stampante non disponibile: ricordi il suo numero")
                : QString());
        m_pagine->setCurrentIndex(1);
        break;
    }
    case Schermata::NonDisponibile:
        m_avviso->setText(QStringLiteral("Servizio momentaneamente non disponibile"));
        m_pagine->setCurrentIndex(2);
        break;
    case Schermata::NonAttivo:
        m_avviso->setText(QStringLiteral("Totem non attivo"));
        m_pagine->setCurrentIndex(2);
        break;
    }
}

void FinestraTotem::aggiornaStato() {
    QStringList righe = m_problemi;
    const QString s = m_chiosco->stato();
    if (!s.isEmpty())
        righe << s;
    m_stato->setText(righe.join(QStringLiteral(" — ")));
}

void FinestraTotem::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (m_primaVolta && !m_problemi.isEmpty()) {
        m_primaVolta = false;
        QTimer::singleShot(0, this, &FinestraTotem::apriImpostazioni);
    }
    m_primaVolta = false;
}

void FinestraTotem::apriImpostazioni() {
    const ImpostazioniTotem& attuali = m_chiosco->impostazioni();
    if (attuali.haPin()) {
        std::optional<QString> pin;
        if (m_richiestaPin) {
            pin = m_richiestaPin();
        } else {
            bool ok = false;
            const QString testo =
                QInputDialog::getText(this, QStringLiteral("Impostazioni"), QStringLiteral("PIN:"),
                                      QLineEdit::Password, {}, &ok);
            if (ok)
                pin = testo;
        }
        if (!pin)
            return;
        if (!attuali.verificaPin(*pin)) {
            m_stato->setText(QStringLiteral("PIN errato"));
            QTimer::singleShot(3000, this, &FinestraTotem::aggiornaStato);
            return;
        }
    }
    FinestraImpostazioni finestra(attuali, m_problemi, this);
    if (finestra.exec() != QDialog::Accepted)
        return;
    m_problemi.clear();
    m_chiosco->impostaImpostazioni(finestra.impostazioni());
    costruisciServizi();
    aggiornaSchermata();
    aggiornaStato();
}

} // namespace qvr::totem
