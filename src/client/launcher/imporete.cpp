#include "launcher/imporete.h"

#include "app/attivazione.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "app/twips.h"
#include "dialogs/msgform.h"
#include "launcher/artwork/immagini.h"
#include "launcher/percorsi.h"

#include "archive/errori.h"
#include "archive/percorsi_archivio.h"
#include "finestre/campo_archivio.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qvr {

std::function<QString(QWidget*)> ImpoRete::sceltaCartella;
std::function<QString(QWidget*, const QString&)> ImpoRete::sceltaServer;
QString ImpoRete::s_cartella;
qint16 ImpoRete::s_postazione = 0;

const QString ImpoRete::TestoSegnaposto = QStringLiteral("Percorso da impostare!");

QString ImpoRete::cartellaMemorizzata() {
    return s_cartella;
}
qint16 ImpoRete::postazioneMemorizzata() {
    return s_postazione;
}

void ImpoRete::azzeraMemoria() {
    s_cartella.clear();
    s_postazione = 0;
}

ImpoRete::ImpoRete(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ImpoRete"));
    setWindowTitle(QStringLiteral("Impostazione Percorso di Rete"));
    setModal(true);
    setMinimumSize(twipsSize(7200, 4200));

    m_groupBox1 = new QGroupBox(QStringLiteral("Postazione"), this);
    m_groupBox1->setObjectName(QStringLiteral("GroupBox1"));
    m_gruppo = new QButtonGroup(this);
    auto* griglia = new QGridLayout(m_groupBox1);
    for (int i = 0; i < nomi::NumeroPostazioni; ++i) {
        auto* r = new QRadioButton(QStringLiteral("Postazione %1").arg(i + 1), m_groupBox1);
        r->setObjectName(QStringLiteral("R1_%1").arg(i));
        m_gruppo->addButton(r, i);
        griglia->addWidget(r, i % 5, i / 5);
        m_r1[i] = r;
    }

    m_label1 = new QLabel(QStringLiteral("Percorso archivi"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_txtshortcutdir = new QLabel(TestoSegnaposto, this);
    m_txtshortcutdir->setObjectName(QStringLiteral("txtshortcutdir"));
    m_txtshortcutdir->setFrameShape(QFrame::StyledPanel);
    m_txtshortcutdir->setFrameShadow(QFrame::Sunken);
    m_txtshortcutdir->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_txtshortcutdir->setMinimumWidth(twipsX(4800));
    m_txtshortcutdir->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_label1->setBuddy(m_txtshortcutdir);

    const QString testi[3] = {QStringLiteral("C&hiudi"),
                              QStringLiteral("&Impostazione percorso Server"),
                              QStringLiteral("&Salva")};
    for (int i = 0; i < 3; ++i) {
        m_cbt[i] = new QPushButton(testi[i], this);
        m_cbt[i]->setObjectName(QStringLiteral("cbt_%1").arg(i));
        // Enter presses the focused button, as Space does.
        m_cbt[i]->setAutoDefault(true);
    }
    connect(m_cbt[0], &QPushButton::clicked, this, [this] { eseguiGestito([this] { reject(); }); });
    connect(m_cbt[1], &QPushButton::clicked, this,
            [this] { eseguiGestito([this] { SfogliaCartella(); }); });
    connect(m_cbt[2], &QPushButton::clicked, this, [this] { eseguiGestito([this] { Salva(); }); });
    m_cbtServer = new QPushButton(QStringLiteral("Archivio su ser&ver..."), this);
    m_cbtServer->setObjectName(QStringLiteral("cbtServer"));
    m_cbtServer->setAutoDefault(true);
    connect(m_cbtServer, &QPushButton::clicked, this,
            [this] { eseguiGestito([this] { ImpostaServer(); }); });

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setPixmap(immagini::biglietto(twipsSize(1800, 1000)));
    m_image1->setAccessibleName(QStringLiteral("Biglietto numerato"));
    m_image1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    disponi();

    // Read at the first showing and whenever a window of the program opened over this one
    // closes; not when the folder chooser closes or the operator returns from elsewhere, so a
    // folder just chosen stays until it is saved or the window is closed.
    connect(new Attivazione(this), &Attivazione::attivata, this, [this] { attivazione(); });
}

// The stations beside the picture, the archive's line, the buttons below.
void ImpoRete::disponi() {
    auto* alto = new QHBoxLayout;
    alto->addWidget(m_groupBox1, 1);
    alto->addWidget(m_image1);

    auto* percorso = new QHBoxLayout;
    percorso->addWidget(m_label1);
    percorso->addWidget(m_txtshortcutdir, 1);

    auto* pulsanti = new QHBoxLayout;
    pulsanti->addWidget(m_cbt[1]);
    pulsanti->addWidget(m_cbtServer);
    pulsanti->addStretch();
    pulsanti->addWidget(m_cbt[2]);
    pulsanti->addWidget(m_cbt[0]);

    auto* colonna = new QVBoxLayout(this);
    colonna->addLayout(alto);
    colonna->addSpacing(twipsY(120));
    colonna->addLayout(percorso);
    colonna->addSpacing(twipsY(120));
    colonna->addLayout(pulsanti);
}

void ImpoRete::mostraValore(const QString& valore) {
    m_valore = valore;
    // A server address may hold a password: shown without it.
    m_txtshortcutdir->setText(archivio_campo::perSchermo(valore));
}

void ImpoRete::attivazione() {
    // A missing or unreadable settings file is no news here: the label keeps what it shows.
    try {
        const ValoriPercorsi valori = leggiFilePercorsi();
        s_cartella = valori.cartella;
        PostazioneTesto = valori.postazione;
        mostraValore(s_cartella);
    } catch (const ErroreQvr&) {
    }
}

void ImpoRete::SfogliaCartella() {
    const QString scelta = sceltaCartella ? QDir::toNativeSeparators(sceltaCartella(this))
                                          : archivio_campo::scegliCartella(this);
    if (scelta.isEmpty())
        return;
    mostraValore(scelta);
}

void ImpoRete::ImpostaServer() {
    // The address is offered without its password; given back unchanged, it keeps it.
    const QString attuale =
        eServer(m_valore) ? archivio_campo::perSchermo(m_valore) : QStringLiteral("postgresql://");
    QString scelta =
        (sceltaServer ? sceltaServer(this, attuale) : archivio_campo::chiediServer(this, attuale))
            .trimmed();
    if (scelta.isEmpty())
        return;
    if (eServer(m_valore) && scelta == attuale)
        scelta = m_valore;
    if (const QString motivo = archivio_campo::motivoServerNonValido(scelta, m_valore);
        !motivo.isEmpty()) {
        MsgForm messaggio(this);
        messaggio.Label2(0)->setText(archivio_campo::TestoServerNonValido);
        messaggio.Label2(1)->setText(motivo);
        messaggio.exec();
        return;
    }
    mostraValore(scelta);
}

void ImpoRete::Salva() {
    if (m_valore == TestoSegnaposto) {
        MsgForm messaggio(this);
        messaggio.Label2(0)->setText(QStringLiteral("Selezionare un Percorso per gli archivi !"));
        messaggio.exec();
        return;
    }
    for (int i = 0; i < nomi::NumeroPostazioni; ++i) {
        if (m_r1[i]->isChecked()) {
            s_postazione = static_cast<qint16>(i + 1);
            break;
        }
    }
    s_cartella = m_valore;
    // A failure to write is not handled here: it reaches the operator's report.
    ScriviPercorsi(s_cartella, s_postazione);

    MsgForm conferma(this);
    conferma.Label2(0)->setText(QStringLiteral("Percorso /postazione impostate correttamente !"));
    conferma.Label2(1)->setText(QStringLiteral("Riavviare modulo Client Quorvane 3 !"));
    conferma.exec();

    m_salvato = true;
    accept();
}

} // namespace qvr
