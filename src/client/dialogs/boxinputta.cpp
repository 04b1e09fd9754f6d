#include "dialogs/boxinputta.h"

#include "app/gestione.h"
#include "app/globali.h"
#include "archive/contatore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "console/attesa_archivio.h"
#include "console/display.h"
#include "dialogs/campo_numero.h"
#include "dialogs/messaggi.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

using namespace qvr;

namespace {
// Failures of the counter file the operator can clear and retry: held by another station,
// missing, folder unreachable, no permission.
bool erroreRiprovabile(int numero) {
    return numero == Err::AutorizzazioneNegata || numero == Err::FileNonTrovato ||
           numero == Err::PercorsoNonTrovato || numero == Err::AccessoNegato;
}
} // namespace

boxinputta::boxinputta(QLabel* numeroConsole, QLabel* statoConsole, QWidget* parent)
    : QDialog(parent), m_numeroConsole(numeroConsole), m_statoConsole(statoConsole) {
    setObjectName(QStringLiteral("boxinputta"));
    setWindowTitle(QStringLiteral("Richiesta Numero"));
    setModal(true);

    m_groupBox2 = new QGroupBox(QString(), this);
    m_groupBox2->setObjectName(QStringLiteral("GroupBox2"));

    m_label = new QLabel(QStringLiteral("Inserire il numero da cui ripartire"), m_groupBox2);
    m_label->setObjectName(QStringLiteral("Label"));
    m_label->setAlignment(Qt::AlignCenter);

    m_label1 = new QLabel(m_groupBox2);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setAlignment(Qt::AlignCenter);

    m_f = new CampoNumero(QStringLiteral("000"), m_groupBox2);
    m_f->setObjectName(QStringLiteral("f"));
    m_f->setAlignment(Qt::AlignCenter);
    QFont caratteri = m_f->font();
    caratteri.setPointSize(caratteri.pointSize() * 2);
    caratteri.setBold(true);
    m_f->setFont(caratteri);

    m_command1[0] = new QPushButton(QStringLiteral("Con&ferma"), this);
    m_command1[0]->setObjectName(QStringLiteral("Command1_0"));
    m_command1[1] = new QPushButton(QStringLiteral("C&hiudi"), this);
    m_command1[1]->setObjectName(QStringLiteral("Command1_1"));
    // Enter presses the focused button; in the field it is the field's own "Con&ferma".
    for (QPushButton* pulsante : m_command1) {
        pulsante->setAutoDefault(true);
        pulsante->setDefault(false);
    }

    auto* interno = new QVBoxLayout(m_groupBox2);
    interno->addWidget(m_label);
    interno->addWidget(m_label1);
    interno->addWidget(m_f);

    auto* pulsanti = new QHBoxLayout;
    pulsanti->addWidget(m_command1[0]);
    pulsanti->addWidget(m_command1[1]);

    auto* esterno = new QVBoxLayout(this);
    esterno->addWidget(m_groupBox2);
    esterno->addLayout(pulsanti);
    setMinimumWidth(320);

    setTabOrder(m_f, m_command1[0]);
    setTabOrder(m_command1[0], m_command1[1]);
    m_f->setFocus(Qt::OtherFocusReason);

    connect(m_command1[0], &QPushButton::clicked, this, [this] { Command1_Click(0); });
    connect(m_command1[1], &QPushButton::clicked, this, [this] { Command1_Click(1); });
    connect(m_f, &CampoNumero::invio, this, [this] { Command1_Click(0); });

    // F12 closes the dialog without change, whichever control has the focus.
    auto* f12 = new QShortcut(QKeySequence(Qt::Key_F12), this);
    f12->setContext(Qt::WindowShortcut);
    connect(f12, &QShortcut::activated, this, &QDialog::reject);
}

QString boxinputta::testoDomandaSingola() {
    const QString cr = QStringLiteral("\r");
    return QStringLiteral("L'impostazione del Numero per la numerazione singola") + cr +
           QStringLiteral("serve per azzerare la numerazione o impostarla direttamente") + cr +
           QStringLiteral("dal client da cui si opera. Ovviamente ha effetto anche per tutti") +
           cr +
           QStringLiteral("gli altri client che dovessero essere ancora attivi e al lavoro !") +
           cr + QStringLiteral("    ") + cr + QStringLiteral("   ") + cr +
           QStringLiteral("Proseguire con l'operazione ?");
}

void boxinputta::Command1_Click(int indice) {
    eseguiGestito([this, indice] {
        if (indice == 1) {
            reject();
            return;
        }
        const QString modo = m_label1->text();
        if (modo == ModoStandard)
            ImpostaNumeroStandard();
        else if (modo == ModoSingola)
            ImpostaNumeroSingola();
    });
}

void boxinputta::ImpostaNumeroStandard() {
    const qint32 valore = m_f->valore();
    if (valore == 0)
        return;
    eseguiArchivio([valore] {
        AggiornaDisplay(static_cast<double>(valore), static_cast<qint16>(nomi::StatoAssente),
                        QStringLiteral("F"));
    });
    if (m_numeroConsole)
        m_numeroConsole->setText(m_f->text());
    if (m_statoConsole)
        m_statoConsole->setText(nomi::TestoAssente);
    accept();
}

void boxinputta::ImpostaNumeroSingola() {
    const auto risposta = messaggi::mostra(this, messaggi::Icona::Domanda,
                                           QStringLiteral("Attenzione"), testoDomandaSingola(),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (risposta != QMessageBox::Yes)
        return;
    const qint32 valore = m_f->valore();
    try {
        eseguiArchivio([valore] {
            contatore::scriviImpostazione(fileArchivio(PercorsoArchivi, nomi::FileContatore),
                                          valore, NumeroPostazione);
        });
    } catch (const ErroreQvr& errore) {
        if (!erroreRiprovabile(errore.numero()))
            throw;
        messaggi::mostraErrore(this, QStringLiteral("QVR"), errore);
        return;
    }
    if (m_numeroConsole)
        m_numeroConsole->setText(QString::number(valore));
    accept();
}
