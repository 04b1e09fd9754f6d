#include "launcher/apertura.h"

#include "app/gestione.h"
#include "app/globali.h"
#include "app/twips.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "console/attesa_archivio.h"
#include "dialogs/messaggi.h"
#include "launcher/artwork/immagini.h"
#include "launcher/imporete.h"
#include "launcher/percorsi.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qvr {

namespace {

// Closes a cursor when the work that used it ends, also by a failure: a cursor left open would
// keep its database busy for the other stations.
class ChiusuraCursore {
public:
    explicit ChiusuraCursore(Cursore& cursore) : m_cursore(cursore) {}
    ~ChiusuraCursore() { m_cursore.chiudi(); }
    ChiusuraCursore(const ChiusuraCursore&) = delete;
    ChiusuraCursore& operator=(const ChiusuraCursore&) = delete;

private:
    Cursore& m_cursore;
};

bool archivioNonRaggiungibile(int numero) {
    return numero == Err::PercorsoNonValido || numero == Err::DatabaseNonTrovato ||
           numero == Err::PercorsoNonTrovato;
}

} // namespace

const QString Apertura::TestoUscita =
    QStringLiteral("Archivio non raggiungibile. Uscire dal programma ?");

// ---------------------------------------------------------------------------------------------

namespace {

// Screen readers see a link label as a link, named by its caption, that they can press.
class CollegamentoAccessibile : public QAccessibleWidget {
public:
    explicit CollegamentoAccessibile(EtichettaCollegamento* etichetta)
        : QAccessibleWidget(etichetta, QAccessible::Link) {}

    QString text(QAccessible::Text tipo) const override {
        if (tipo == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(tipo);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& azione) override {
        if (azione == pressAction())
            emit static_cast<EtichettaCollegamento*>(widget())->attivata();
    }
};

QAccessibleInterface* fabbricaAccessibile(const QString& classe, QObject* oggetto) {
    if (classe == QLatin1String(EtichettaCollegamento::staticMetaObject.className()) && oggetto &&
        oggetto->isWidgetType())
        return new CollegamentoAccessibile(static_cast<EtichettaCollegamento*>(oggetto));
    return nullptr;
}

} // namespace

EtichettaCollegamento::EtichettaCollegamento(const QString& testo, QWidget* parent)
    : QLabel(testo, parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QFont carattere = font();
    carattere.setUnderline(true);
    setFont(carattere);
    QPalette tavolozza = palette();
    tavolozza.setColor(QPalette::WindowText, tavolozza.color(QPalette::Link));
    setPalette(tavolozza);
    static const bool accessibile = (QAccessible::installFactory(fabbricaAccessibile), true);
    Q_UNUSED(accessibile);
}

void EtichettaCollegamento::mouseReleaseEvent(QMouseEvent* evento) {
    if (evento->button() == Qt::LeftButton && rect().contains(evento->position().toPoint())) {
        evento->accept();
        emit attivata();
        return;
    }
    QLabel::mouseReleaseEvent(evento);
}

void EtichettaCollegamento::keyPressEvent(QKeyEvent* evento) {
    switch (evento->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        evento->accept();
        emit attivata();
        return;
    default:
        QLabel::keyPressEvent(evento);
    }
}

void EtichettaCollegamento::focusInEvent(QFocusEvent* evento) {
    setFrameShape(QFrame::Box);
    QLabel::focusInEvent(evento);
}

void EtichettaCollegamento::focusOutEvent(QFocusEvent* evento) {
    setFrameShape(QFrame::NoFrame);
    QLabel::focusOutEvent(evento);
}

// ---------------------------------------------------------------------------------------------

Apertura::Apertura(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Apertura"));
    setWindowTitle(VersioneCaption);
    // Closing the launcher never ends the event loop by itself: "Avvia Client" closes it while
    // the console takes over, and every other way of closing it ends the program explicitly.
    setAttribute(Qt::WA_QuitOnClose, false);
    setMinimumSize(twipsSize(6300, 3600));

    m_label1_0 = new QLabel(QStringLiteral("Postazione"), this);
    m_label1_0->setObjectName(QStringLiteral("Label1_0"));
    QFont titolo = m_label1_0->font();
    titolo.setBold(true);
    titolo.setPointSizeF(titolo.pointSizeF() * 1.6);
    m_label1_0->setFont(titolo);

    m_label3 = new QLabel(QStringLiteral("Label3"), this);
    m_label3->setObjectName(QStringLiteral("Label3"));
    QFont nome = m_label3->font();
    nome.setPointSizeF(nome.pointSizeF() * 1.2);
    m_label3->setFont(nome);

    m_label2 = new EtichettaCollegamento(QStringLiteral("Visualizza percorso QVR Server"), this);
    m_label2->setAccessibleDescription(
        QStringLiteral("Apre la finestra Impostazione Percorso di Rete"));
    m_label2->setObjectName(QStringLiteral("Label2"));
    connect(m_label2, &EtichettaCollegamento::attivata, this,
            [this] { eseguiGestito([this] { Label2_Click(); }); });

    m_cb3 = new QCheckBox(QStringLiteral("Utilizza Totem "), this);
    m_cb3->setObjectName(QStringLiteral("CB3"));
    m_cb1 = new QCheckBox(QStringLiteral("Utilizza agenda "), this);
    m_cb1->setObjectName(QStringLiteral("CB1"));
    m_cb1->setVisible(false);
    m_cb2 = new QCheckBox(QStringLiteral("Utilizza Orario come Numero "), this);
    m_cb2->setObjectName(QStringLiteral("CB2"));
    m_cb2->setVisible(false);
    // Every change the operator makes is stored (a click, Space, a screen reader's "Toggle");
    // the load sets the box quietly.
    connect(m_cb3, &QCheckBox::stateChanged, this, [this] {
        if (!m_caricaCasella)
            eseguiGestito([this] { CB3_Click(); });
    });

    const QString testi[3] = {QStringLiteral("C&hiudi"), QStringLiteral("Avvia con Agenda"),
                              QStringLiteral("Avvia Client")};
    for (int i = 0; i < 3; ++i) {
        m_pb1[i] = new QPushButton(testi[i], this);
        m_pb1[i]->setObjectName(QStringLiteral("PB1_%1").arg(i));
        m_pb1[i]->setMinimumWidth(twipsX(1500));
        m_pb1[i]->setAutoDefault(true); // Enter presses the focused button, as Space does
        connect(m_pb1[i], &QPushButton::clicked, this,
                [this, i] { eseguiGestito([this, i] { PB1_Click(i); }); });
    }
    m_pb1[1]->setVisible(false);
    m_pb1[2]->setDefault(true);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setPixmap(immagini::biglietto(twipsSize(1900, 1050)));
    m_image1->setAccessibleName(QStringLiteral("Biglietto numerato"));
    m_image1->setAlignment(Qt::AlignCenter);

    disponi();
}

// The picture beside the station's data, the buttons below.
void Apertura::disponi() {
    auto* dati = new QVBoxLayout;
    dati->addWidget(m_label1_0);
    dati->addWidget(m_label3);
    dati->addSpacing(twipsY(120));
    dati->addWidget(m_cb3);
    dati->addWidget(m_cb1);
    dati->addWidget(m_cb2);
    dati->addStretch();

    auto* alto = new QHBoxLayout;
    alto->addWidget(m_image1);
    alto->addSpacing(twipsX(240));
    alto->addLayout(dati, 1);

    auto* pulsanti = new QHBoxLayout;
    pulsanti->addWidget(m_label2);
    pulsanti->addStretch();
    pulsanti->addWidget(m_pb1[1]);
    pulsanti->addWidget(m_pb1[2]);
    pulsanti->addWidget(m_pb1[0]);

    auto* colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(twipsX(240), twipsY(240), twipsX(240), twipsY(240));
    colonna->addLayout(alto, 1);
    colonna->addSpacing(twipsY(180));
    colonna->addLayout(pulsanti);

    setTabOrder(m_cb3, m_pb1[2]);
    setTabOrder(m_pb1[2], m_pb1[0]);
    setTabOrder(m_pb1[0], m_label2);
}

bool Apertura::totemSpuntato() const {
    return m_cb3->isChecked();
}

// ---------------------------------------------------------------------------------------------
// Load sequence

void Apertura::Carica() {
    // Steps 1 and 2. After the settings window has closed, the retry reads the settings file
    // again, so a folder saved meanwhile is the one tried next.
    do {
        leggiImpostazioni();
    } while (!apriPostazioni());

    {
        ChiusuraCursore chiusura(m_data1);

        // Step 3: exact, case-sensitive comparison with "1" ... "10".
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
            if (PostazioneTesto == QString::number(n)) {
                m_label1_0->setText(QStringLiteral("Postazione %1").arg(n));
                NumeroPostazione = n;
                IdUtente = m_data1.campoLong(nomi::campoPostoID(n));
                break;
            }
        }

        // Steps 4 and 5: the station's user.
        m_data1.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVR));
        m_data1.impostaOrigine(nomi::queryUtente(IdUtente));
        m_data1.aggiorna();
        if (!m_data1.haRighe()) {
            m_data1.chiudi();
            messaggi::mostra(isVisible() ? this : nullptr, messaggi::Icona::Critica,
                             QStringLiteral("Attenzione"),
                             QStringLiteral("Nessun Utente inserito !"), QMessageBox::Ok);
            chiudiLauncher();
            terminaProgramma(1);
        }
        const QVariant nominativo = m_data1.campo(nomi::CampoNominativo);
        m_label3->setText(nominativo.isNull() ? QString()
                                              : m_data1.campoTesto(nomi::CampoNominativo));
    }

    // Step 6: the kiosk setting, shared by all stations. Only the exact "SI" ticks the box.
    ChiusuraCursore chiusura(m_data2);
    m_data2.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileTotem));
    m_data2.impostaOrigine(nomi::querySelezionaTutto(nomi::TabConfigurazione));
    m_data2.aggiorna();
    const QVariant rhdsn = m_data2.campo(nomi::CampoRHDSN);
    m_caricaCasella = true;
    m_cb3->setChecked(!rhdsn.isNull() && rhdsn.toString() == QStringLiteral("SI"));
    m_caricaCasella = false;
}

void Apertura::leggiImpostazioni() {
    for (;;) {
        try {
            LeggiPercorsi();
            return;
        } catch (const ErroreQvr& errore) {
            switch (errore.numero()) {
            case Err::FileNonTrovato:
                messaggi::mostra(
                    isVisible() ? this : nullptr, messaggi::Icona::Informazione,
                    QStringLiteral("QVR-Messaggio"),
                    QStringLiteral("Percorso Server non impostato o Server non raggiungibile !"),
                    QMessageBox::Ok);
                impostazioniInAvvio();
                break;
            case Err::PercorsoNonValido:
            case Err::DatabaseNonTrovato:
            case Err::PercorsoNonTrovato:
                impostazioniInAvvio();
                break;
            default:
                // A file with fewer than two values, or a file that cannot be read at all: no
                // recovery. The launcher closes and the caller reports the failure with its
                // number before the program ends.
                chiudiLauncher();
                throw;
            }
        }
    }
}

bool Apertura::apriPostazioni() {
    try {
        m_data1.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVR));
        m_data1.impostaOrigine(nomi::TabPostazioneUtente);
        m_data1.aggiorna();
        return true;
    } catch (const ErroreQvr& errore) {
        m_data1.chiudi();
        if (archivioNonRaggiungibile(errore.numero())) {
            impostazioniInAvvio();
            return false;
        }
        // Any other failure (a damaged database, no permission): the launcher closes and the
        // caller reports the failure with its number before the program ends.
        chiudiLauncher();
        throw;
    }
}

void Apertura::impostazioniInAvvio() {
    bool salvato = false;
    {
        ImpoRete finestra(isVisible() ? this : nullptr);
        finestra.exec();
        salvato = finestra.salvato();
    }
    if (salvato)
        return;
    // Closed without saving: the archive is still out of reach, so the operator may leave
    // instead of going round the retry again.
    const auto risposta = messaggi::mostra(isVisible() ? this : nullptr, messaggi::Icona::Domanda,
                                           QStringLiteral("QVR-Messaggio"), TestoUscita,
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (risposta == QMessageBox::Yes) {
        chiudiLauncher();
        terminaProgramma(0);
    }
}

void Apertura::chiudiLauncher() {
    m_chiusuraInterna = true;
    close();
}

// ---------------------------------------------------------------------------------------------
// Operator actions

// The write runs on an archive thread of its own while the launcher keeps painting, with the
// busy pointer and "Archivio occupato, attendere..." in place of the user's name (a server that
// stopped answering holds it up to its bound).
void Apertura::CB3_Click() {
    const Qt::CheckState stato = m_cb3->checkState();
    if (stato == Qt::PartiallyChecked)
        return;
    AttesaArchivio attesa(m_label3);
    attesa.esegui([this, stato] {
        ChiusuraCursore chiusura(m_data2);
        m_data2.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileTotem));
        m_data2.impostaOrigine(nomi::querySelezionaTutto(nomi::TabConfigurazione));
        m_data2.aggiorna(true);
        m_data2.modifica();
        m_data2.assegna(nomi::CampoRHDSN,
                        stato == Qt::Checked ? QStringLiteral("SI") : QStringLiteral("NO"));
        m_data2.salva();
    });
}

void Apertura::PB1_Click(int indice) {
    switch (indice) {
    case 0: // "C&hiudi"
        chiudiLauncher();
        terminaProgramma(0);
    case 1: // "Avvia con Agenda": never shown, no action
        return;
    case 2: // "Avvia Client"
        TotemInUso = m_cb3->checkState() == Qt::Checked;
        chiudiLauncher();
        emit avviaClientRichiesto();
        return;
    default:
        return;
    }
}

void Apertura::Label2_Click() {
    // The station and user shown stay as they were: nothing is read again here.
    ImpoRete finestra(this);
    finestra.exec();
}

void Apertura::keyPressEvent(QKeyEvent* evento) {
    // Reached when the focused control does not take the key itself: Enter with the focus on no
    // button presses the default button "Avvia Client"; Escape answers as the close box does.
    switch (evento->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_pb1[2]->isVisible() && m_pb1[2]->isEnabled()) {
            evento->accept();
            m_pb1[2]->click();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (evento->modifiers() == Qt::NoModifier) {
            evento->accept();
            close();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(evento);
}

void Apertura::closeEvent(QCloseEvent* evento) {
    // A close request while the kiosk box's write waits for the archive is taken once it is over.
    if (const AttesaArchivio* attesa = AttesaArchivio::attiva(); attesa && attesa->inLavoro()) {
        evento->ignore();
        QTimer::singleShot(50, this, [this] { close(); });
        return;
    }
    evento->accept();
    if (m_chiusuraInterna)
        return;
    // The window's own close box: with no other window open, the program ends.
    m_chiusuraInterna = true;
    eseguiGestito([] { terminaProgramma(0); });
}

} // namespace qvr
