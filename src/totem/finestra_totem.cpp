#include "totem/finestra_totem.h"

#include "totem/finestra_impostazioni.h"

#include "archive/errori.h"
#include "finestre/richiesta_pin.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
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

    m_pagine->addWidget(costruisciPaginaNumero());

    m_avviso = etichetta(QStringLiteral("avviso"), 36, true);
    m_pagine->addWidget(m_avviso);
    m_pagine->addWidget(costruisciPaginaPin());

    colonna->addLayout(costruisciRigaStato());

    for (int i = 0; i < 9; ++i) {
        auto* tasto = new QShortcut(QKeySequence(Qt::Key_1 + i), this);
        connect(tasto, &QShortcut::activated, this, [this, i] {
            if (i < m_bottoni.size())
                m_bottoni[i]->click();
        });
    }

    connect(m_chiosco, &Chiosco::schermataCambiata, this, &FinestraTotem::aggiornaSchermata);
    connect(m_chiosco, &Chiosco::statoCambiato, this, [this] {
        if (!m_finoAvviso->isActive())
            aggiornaStato();
    });
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

// The ticket's page: the number, the service, the people before, a printer's warning.
QWidget* FinestraTotem::costruisciPaginaNumero() {
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
    return paginaNumero;
}

// The status line and the office's button to the settings.
QLayout* FinestraTotem::costruisciRigaStato() {
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
    m_finoAvviso = new QTimer(this);
    m_finoAvviso->setSingleShot(true);
    connect(m_finoAvviso, &QTimer::timeout, this, &FinestraTotem::aggiornaStato);
    rigaStato->addWidget(m_stato, 1);
    rigaStato->addWidget(m_impostazioni);
    return rigaStato;
}

QWidget* FinestraTotem::costruisciPaginaPin() {
    auto* pagina = new QWidget;
    pagina->setObjectName(QStringLiteral("paginaPin"));
    auto* colonna = new QVBoxLayout(pagina);
    auto* titolo = etichetta(QStringLiteral("titoloPin"), 28, true);
    titolo->setText(QStringLiteral("Totem da configurare"));
    auto* spiegazione = etichetta(QStringLiteral("spiegazionePin"), 16);
    spiegazione->setText(
        QStringLiteral(
            "Prima di dare biglietti il totem chiede il PIN dell'ufficio, che protegge le sue "
            "impostazioni. Scegliere un PIN di almeno %1 caratteri e scriverlo due volte.")
            .arg(ImpostazioniTotem::LunghezzaMinimaPin));
    m_primoPin = new QLineEdit;
    m_primoPin->setEchoMode(QLineEdit::Password);
    QFont campi = m_primoPin->font();
    campi.setPointSize(18);
    m_primoPin->setAccessibleName(QStringLiteral("PIN dell'ufficio"));
    m_confermaPrimoPin = new QLineEdit;
    m_confermaPrimoPin->setEchoMode(QLineEdit::Password);
    m_confermaPrimoPin->setAccessibleName(QStringLiteral("Conferma del PIN"));
    m_impostaPrimoPin = new QPushButton(QStringLiteral("Imposta il PIN"));
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_primoPin, m_confermaPrimoPin, m_impostaPrimoPin}) {
        w->setFont(campi);
        w->setMinimumHeight(48);
    }
    m_esitoPrimoPin = etichetta(QStringLiteral("esitoPin"), 14);
    m_esitoPrimoPin->setStyleSheet(QStringLiteral("color: #a00000;"));
    connect(m_impostaPrimoPin, &QPushButton::clicked, this, &FinestraTotem::impostaPrimoPin);
    connect(m_confermaPrimoPin, &QLineEdit::returnPressed, this, &FinestraTotem::impostaPrimoPin);
    auto* form = new QFormLayout;
    auto* etichettaPin = new QLabel(QStringLiteral("PIN:"));
    auto* etichettaConferma = new QLabel(QStringLiteral("Ripetere il PIN:"));
    etichettaPin->setFont(campi);
    etichettaConferma->setFont(campi);
    form->addRow(etichettaPin, m_primoPin);
    form->addRow(etichettaConferma, m_confermaPrimoPin);
    auto* riquadro = new QWidget;
    riquadro->setFixedWidth(560);
    auto* colonnaRiquadro = new QVBoxLayout(riquadro);
    colonnaRiquadro->addLayout(form);
    colonnaRiquadro->addWidget(m_impostaPrimoPin);
    colonna->addStretch();
    colonna->addWidget(titolo);
    colonna->addWidget(spiegazione);
    colonna->addWidget(riquadro, 0, Qt::AlignHCenter);
    colonna->addWidget(m_esitoPrimoPin);
    colonna->addStretch();
    return pagina;
}

void FinestraTotem::impostaPrimoPin() {
    if (m_chiosco->schermata() != Schermata::SenzaPin)
        return;
    const QString pin = m_primoPin->text();
    QString motivo = ImpostazioniTotem::pinNonValido(pin);
    if (motivo.isEmpty() && pin != m_confermaPrimoPin->text())
        motivo = QStringLiteral("I due PIN non coincidono");
    ImpostazioniTotem nuove = m_chiosco->impostazioni();
    if (motivo.isEmpty()) {
        nuove.impostaPin(pin);
        try {
            nuove.salvaPin();
        } catch (const ErroreQvr& e) {
            motivo = QStringLiteral("PIN non salvato: ") + e.testoCompleto();
        }
    }
    m_primoPin->clear();
    m_confermaPrimoPin->clear();
    m_esitoPrimoPin->setText(motivo);
    if (!motivo.isEmpty())
        return;
    m_chiosco->impostaImpostazioni(nuove);
    aggiornaStato();
}

void FinestraTotem::avvisa(const QString& testo) {
    m_stato->setText(testo);
    m_finoAvviso->start(4000);
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
    switch (m_pagine->currentIndex()) {
    case 1:
        return m_numero->text();
    case 2:
        return m_avviso->text();
    default: // the services, or the page that sets the PIN
        return {};
    }
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
    case Schermata::Attesa:
        m_avviso->setText(QStringLiteral("Un momento, prego..."));
        m_pagine->setCurrentIndex(2);
        break;
    case Schermata::SenzaPin:
        m_pagine->setCurrentIndex(3);
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

void FinestraTotem::closeEvent(QCloseEvent* e) {
    // A customer's Alt+F4 must not leave the desktop on the entrance's screen.
    if (isFullScreen() && !m_uscita) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

void FinestraTotem::apriImpostazioni() {
    const ImpostazioniTotem& attuali = m_chiosco->impostazioni();
    if (!attuali.haPin()) {
        if (attuali.pinDanneggiato)
            avvisa(QStringLiteral("PIN danneggiato: impostazioni bloccate. L'amministratore del PC "
                                  "esegue qvr-totem --reimposta-pin"));
        // Without any PIN the kiosk shows the page that sets one.
        return;
    }
    if (const qint64 attesa = m_tentativi.attesa(); attesa > 0) {
        avvisa(QStringLiteral("Troppi PIN errati: riprovare tra %1 s").arg((attesa + 999) / 1000));
        return;
    }
    const std::optional<QString> pin = m_richiestaPin ? m_richiestaPin() : chiediPin(this);
    if (!pin)
        return;
    if (!attuali.verificaPin(*pin)) {
        m_tentativi.errato();
        const qint64 attesa = m_tentativi.attesa();
        avvisa(attesa > 0
                   ? QStringLiteral("PIN errato: riprovare tra %1 s").arg((attesa + 999) / 1000)
                   : QStringLiteral("PIN errato"));
        return;
    }
    m_tentativi.giusto();
    if (attuali.iterazioni < ImpostazioniTotem::IterazioniPin) {
        // A hash of an older version: made again with today's iterations.
        ImpostazioniTotem rifatte = attuali;
        rifatte.impostaPin(*pin);
        try {
            rifatte.salvaPin();
            m_chiosco->impostaImpostazioni(rifatte);
        } catch (const ErroreQvr&) {
            // The old hash still works; the next save tries again.
        }
    }
    FinestraImpostazioni finestra(m_chiosco->impostazioni(), m_problemi, this);
    // A panel over the pages, between the header and the status line, never over the office's
    // name: no frame of its own, as wide as it needs up to the page's width.
    finestra.setWindowFlag(Qt::FramelessWindowHint);
    const QRect pagine(m_pagine->mapToGlobal(QPoint(0, 0)), m_pagine->size());
    QRect pannello(0, 0, std::min(pagine.width(), std::max(760, pagine.width() / 2)),
                   pagine.height());
    pannello.moveCenter(pagine.center());
    finestra.setGeometry(pannello);
    const int esito = m_apertura ? m_apertura(finestra) : finestra.exec();
    if (finestra.chiusuraRichiesta()) {
        m_uscita = true;
        close();
        return;
    }
    if (esito != QDialog::Accepted)
        return;
    m_problemi.clear();
    m_chiosco->impostaImpostazioni(finestra.impostazioni());
    costruisciServizi();
    aggiornaSchermata();
    aggiornaStato();
}

} // namespace qvr::totem
