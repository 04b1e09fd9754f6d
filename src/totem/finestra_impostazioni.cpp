#include "totem/finestra_impostazioni.h"

#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/nuova_giornata.h"
#include "finestre/campo_archivio.h"
#include "finestre/messaggi.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qvr::totem {

FinestraImpostazioni::FinestraImpostazioni(const ImpostazioniTotem& impostazioni,
                                           const QStringList& problemi, QWidget* parent)
    : QDialog(parent), m_imp(impostazioni) {
    setWindowTitle(QStringLiteral("Impostazioni del totem"));
    setObjectName(QStringLiteral("impostazioniTotem"));
    auto* esterno = new QVBoxLayout(this);
    auto* intestazione = new QLabel(QStringLiteral("Impostazioni del totem"));
    intestazione->setObjectName(QStringLiteral("intestazione"));
    QFont grande = intestazione->font();
    grande.setPointSize(grande.pointSize() + 4);
    grande.setBold(true);
    intestazione->setFont(grande);
    esterno->addWidget(intestazione);
    // The fields scroll when the kiosk's screen is short; the buttons stay in view.
    auto* scorrimento = new QScrollArea;
    scorrimento->setWidgetResizable(true);
    scorrimento->setFrameShape(QFrame::NoFrame);
    auto* contenuto = new QWidget;
    auto* principale = new QVBoxLayout(contenuto);
    principale->setContentsMargins(0, 0, 0, 0);
    scorrimento->setWidget(contenuto);
    esterno->addWidget(scorrimento, 1);
    if (!problemi.isEmpty()) {
        auto* avviso = new QLabel(QStringLiteral("Impostazioni da correggere:\n") +
                                  problemi.join(QLatin1Char('\n')));
        avviso->setObjectName(QStringLiteral("problemi"));
        avviso->setWordWrap(true);
        avviso->setStyleSheet(QStringLiteral("color: #a00000;"));
        principale->addWidget(avviso);
    }
    auto* form = new QFormLayout;
    principale->addLayout(form);

    m_cartella = new CampoArchivio(m_imp.cartella);
    form->addRow(QStringLiteral("Cartella dell'archivio:"), m_cartella);
    m_ufficio = new QLineEdit(m_imp.ufficio);
    m_ufficio->setAccessibleName(QStringLiteral("Nome dell'ufficio"));
    form->addRow(QStringLiteral("Nome dell'ufficio:"), m_ufficio);
    form->addRow(QStringLiteral("Servizi:"), costruisciServizi());
    m_indirizzo = new QLineEdit(m_imp.indirizzo);
    m_indirizzo->setObjectName(QStringLiteral("indirizzo"));
    m_indirizzo->setAccessibleName(QStringLiteral("Indirizzo pubblico del server"));
    m_indirizzo->setPlaceholderText(QStringLiteral("http://192.168.1.5:8080 (vuoto: nessun QR)"));
    m_indirizzo->setToolTip(QStringLiteral("Con l'indirizzo, ogni biglietto porta un codice QR "
                                           "per seguire il turno sul telefono."));
    form->addRow(QStringLiteral("Indirizzo del server (QR):"), m_indirizzo);
    costruisciStampa(form);
    costruisciPin(form);

    m_esito = new QLabel;
    m_esito->setObjectName(QStringLiteral("esito"));
    m_esito->setWordWrap(true);
    principale->addWidget(m_esito);
    principale->addStretch();
    esterno->addLayout(costruisciBottoni());
    resize(760, 640);
}

QLayout* FinestraImpostazioni::costruisciServizi() {
    m_servizi = new QTableWidget(0, 2);
    m_servizi->setAccessibleName(QStringLiteral("Servizi"));
    m_servizi->setHorizontalHeaderLabels({QStringLiteral("Servizio"), QStringLiteral("Sequenza")});
    m_servizi->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (const Servizio& s : m_imp.servizi)
        aggiungiServizio(s);
    auto* aggiungi = new QPushButton(QStringLiteral("&Aggiungi servizio"));
    connect(aggiungi, &QPushButton::clicked, this, [this] {
        aggiungiServizio({QStringLiteral("Nuovo servizio"), 1});
    });
    auto* togli = new QPushButton(QStringLiteral("&Togli servizio"));
    connect(togli, &QPushButton::clicked, this, [this] {
        if (m_servizi->currentRow() >= 0)
            m_servizi->removeRow(m_servizi->currentRow());
    });
    auto* rigaServizi = new QHBoxLayout;
    rigaServizi->addWidget(aggiungi);
    rigaServizi->addWidget(togli);
    auto* colonnaServizi = new QVBoxLayout;
    m_servizi->setMinimumHeight(130);
    m_servizi->setMaximumHeight(230);
    colonnaServizi->addWidget(m_servizi);
    auto* spiegazione =
        new QLabel(QStringLiteral("Sequenza: da P1 a P10 quella della postazione, P11 la "
                                  "numerazione singola"));
    spiegazione->setWordWrap(true);
    colonnaServizi->addWidget(spiegazione);
    colonnaServizi->addLayout(rigaServizi);
    return colonnaServizi;
}

void FinestraImpostazioni::costruisciStampa(QFormLayout* form) {
    m_modo = new QComboBox;
    m_modo->addItem(QStringLiteral("CUPS (PDF del biglietto)"), QStringLiteral("cups"));
    m_modo->addItem(QStringLiteral("ESC/POS su coda CUPS grezza"), QStringLiteral("escpos-cups"));
    m_modo->addItem(QStringLiteral("ESC/POS su file di dispositivo"),
                    QStringLiteral("escpos-file"));
    m_modo->setCurrentIndex(m_modo->findData(nomeModo(m_imp.modo)));
    form->addRow(QStringLiteral("Modo di stampa:"), m_modo);

    m_stampante = new QComboBox;
    m_stampante->setEditable(true);
    m_stampante->addItems(QPrinterInfo::availablePrinterNames());
    m_stampante->setCurrentText(m_imp.stampante);
    m_stampante->setAccessibleName(QStringLiteral("Stampante"));
    form->addRow(QStringLiteral("Stampante (coda CUPS):"), m_stampante);

    m_dispositivo = new QLineEdit(m_imp.dispositivo);
    m_dispositivo->setPlaceholderText(QStringLiteral("/dev/usb/lp0"));
    form->addRow(QStringLiteral("File di dispositivo:"), m_dispositivo);

    m_carta = new QComboBox;
    m_carta->addItem(QStringLiteral("58 mm"), 58);
    m_carta->addItem(QStringLiteral("80 mm"), 80);
    m_carta->setCurrentIndex(m_imp.carta == 58 ? 0 : 1);
    form->addRow(QStringLiteral("Carta:"), m_carta);

    m_ritorno = new QSpinBox;
    m_ritorno->setRange(1, 120);
    m_ritorno->setSuffix(QStringLiteral(" s"));
    m_ritorno->setValue(m_imp.ritorno);
    form->addRow(QStringLiteral("Ritorno ai servizi dopo:"), m_ritorno);
}

void FinestraImpostazioni::costruisciPin(QFormLayout* form) {
    m_pin = new QLineEdit;
    m_pin->setEchoMode(QLineEdit::Password);
    m_pin->setPlaceholderText(m_imp.haPin() ? QStringLiteral("vuoto: PIN invariato")
                                            : QStringLiteral("nessun PIN impostato"));
    m_pin->setAccessibleName(QStringLiteral("Nuovo PIN"));
    form->addRow(QStringLiteral("Nuovo PIN:"), m_pin);
    m_conferma = new QLineEdit;
    m_conferma->setEchoMode(QLineEdit::Password);
    m_conferma->setAccessibleName(QStringLiteral("Conferma del nuovo PIN"));
    form->addRow(QStringLiteral("Ripetere il nuovo PIN:"), m_conferma);
}

QLayout* FinestraImpostazioni::costruisciBottoni() {
    auto* giornata = new QPushButton(QStringLiteral("&Nuova giornata"));
    giornata->setObjectName(QStringLiteral("nuovaGiornata"));
    giornata->setToolTip(QStringLiteral("Azzera contatori del totem, Nr4All.txt e postazioni"));
    connect(giornata, &QPushButton::clicked, this, &FinestraImpostazioni::nuovaGiornata);
    // The office's actions on the left, well apart from saving.
    auto* chiudi = new QPushButton(QStringLiteral("&Chiudi il totem"));
    chiudi->setObjectName(QStringLiteral("chiudiTotem"));
    chiudi->setToolTip(QStringLiteral("Termina il programma del totem (le modifiche non salvate "
                                      "vanno perse)"));
    connect(chiudi, &QPushButton::clicked, this, [this] {
        m_chiudi = true;
        reject();
    });
    auto* bottoni = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    bottoni->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Salva"));
    bottoni->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Annulla"));
    auto* rigaBottoni = new QHBoxLayout;
    rigaBottoni->addWidget(giornata);
    rigaBottoni->addWidget(chiudi);
    rigaBottoni->addStretch();
    rigaBottoni->addWidget(bottoni);
    connect(bottoni, &QDialogButtonBox::accepted, this, &FinestraImpostazioni::conferma);
    connect(bottoni, &QDialogButtonBox::rejected, this, &QDialog::reject);
    return rigaBottoni;
}

void FinestraImpostazioni::aggiungiServizio(const Servizio& s) {
    const int r = m_servizi->rowCount();
    m_servizi->insertRow(r);
    m_servizi->setItem(r, 0, new QTableWidgetItem(s.etichetta));
    auto* sequenza = new QComboBox;
    for (int n = 1; n <= nomi::NumeroSequenze; ++n)
        sequenza->addItem(nomeSequenza(n), n);
    sequenza->setCurrentIndex(std::clamp(s.sequenza, 1, nomi::NumeroSequenze) - 1);
    m_servizi->setCellWidget(r, 1, sequenza);
}

void FinestraImpostazioni::nuovaGiornata() {
    const QString cartella = m_cartella->valore().trimmed();
    const auto risposta =
        messaggi::mostra(this, messaggi::Icona::Domanda, QStringLiteral("Nuova giornata"),
                         QStringLiteral("Azzerare contatori del totem, Nr4All.txt e tutte "
                                        "le postazioni dell'archivio\n%1 ?")
                             .arg(cartella),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No, {},
                         {{QMessageBox::Yes, QStringLiteral("A&zzera")},
                          {QMessageBox::No, QStringLiteral("&Annulla")}});
    if (risposta != QMessageBox::Yes)
        return;
    QStringList fatti;
    try {
        giornata::nuovaGiornata(cartella, [&](const QString& passo) { fatti << passo; });
        m_esito->setText(QStringLiteral("Nuova giornata pronta."));
    } catch (const ErroreQvr& e) {
        fatti << e.testoCompleto();
        m_esito->setText(fatti.join(QLatin1Char('\n')) +
                         QStringLiteral("\nNuova giornata interrotta: si può ripetere."));
    }
}

void FinestraImpostazioni::conferma() {
    ImpostazioniTotem s = m_imp;
    s.cartella = m_cartella->valore().trimmed();
    s.ufficio = m_ufficio->text().trimmed();
    s.indirizzo = m_indirizzo->text().trimmed();
    if (const QString motivo = indirizzoNonValido(s.indirizzo); !motivo.isEmpty()) {
        m_esito->setText(QStringLiteral("Indirizzo del server non valido (%1): impostazioni non "
                                        "salvate.")
                             .arg(motivo));
        return;
    }
    s.servizi.clear();
    for (int r = 0; r < m_servizi->rowCount(); ++r) {
        const QTableWidgetItem* voce = m_servizi->item(r, 0);
        const QString etichetta = voce ? voce->text().trimmed() : QString();
        if (etichetta.isEmpty())
            continue;
        const auto* combo = qobject_cast<QComboBox*>(m_servizi->cellWidget(r, 1));
        s.servizi << Servizio{etichetta, combo ? combo->currentData().toInt() : 1};
    }
    const QString modo = m_modo->currentData().toString();
    s.modo = modo == QStringLiteral("escpos-cups")   ? ModoStampa::EscPosCups
             : modo == QStringLiteral("escpos-file") ? ModoStampa::EscPosFile
                                                     : ModoStampa::Cups;
    s.stampante = m_stampante->currentText().trimmed();
    s.dispositivo = m_dispositivo->text().trimmed();
    s.carta = m_carta->currentData().toInt();
    s.ritorno = m_ritorno->value();
    if (!m_pin->text().isEmpty() || !m_conferma->text().isEmpty()) {
        if (const QString motivo = ImpostazioniTotem::pinNonValido(m_pin->text());
            !motivo.isEmpty()) {
            m_esito->setText(motivo + QStringLiteral(": impostazioni non salvate."));
            return;
        }
        if (m_pin->text() != m_conferma->text()) {
            m_esito->setText(QStringLiteral("I due PIN non coincidono: impostazioni non salvate."));
            return;
        }
        s.impostaPin(m_pin->text());
    }
    if (s.cartella.isEmpty() || s.servizi.isEmpty()) {
        m_esito->setText(QStringLiteral("Servono la cartella dell'archivio e almeno un servizio."));
        return;
    }
    // A server address is checked before it is saved.
    if (!m_cartella->controlla())
        return;
    try {
        s.salva();
    } catch (const ErroreQvr& e) {
        m_esito->setText(QStringLiteral("Impostazioni non salvate: ") + e.testoCompleto());
        return;
    }
    m_imp = s;
    accept();
}

} // namespace qvr::totem
