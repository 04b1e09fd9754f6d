#include "dialogs/msgform.h"

#include "app/globali.h"
#include "app/twips.h"
#include "launcher/artwork/immagini.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace qvr {

const QString MsgForm::TestoIntestazione = QStringLiteral("Messaggio x te  da QUORVANE 3 (Client)");
const QString MsgForm::TestoNonImpostato = QStringLiteral("Label2");

MsgForm::MsgForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("MsgForm"));
    setWindowTitle(QStringLiteral(" "));
    setModal(true);
    setMinimumSize(twipsSize(5400, 2400));

    m_label1 = new QLabel(TestoIntestazione, this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    QFont grassetto = m_label1->font();
    grassetto.setBold(true);
    m_label1->setFont(grassetto);

    m_line1 = new QFrame(this);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setFrameShape(QFrame::HLine);
    m_line1->setFrameShadow(QFrame::Sunken);

    for (int i = 0; i < 2; ++i) {
        auto* riga = new QLabel(TestoNonImpostato, this);
        riga->setObjectName(QStringLiteral("Label2_%1").arg(i));
        riga->setWordWrap(true);
        riga->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_label2[i] = riga;
    }

    m_pb1[0] = new QPushButton(QStringLiteral("C&hiudi"), this);
    m_pb1[1] = new QPushButton(QStringLiteral("&Conferma"), this);
    for (int i = 0; i < 2; ++i) {
        m_pb1[i]->setObjectName(QStringLiteral("PB1_%1").arg(i));
        // Enter presses the focused button; "C&hiudi" only when no button has the focus.
        m_pb1[i]->setAutoDefault(true);
        m_pb1[i]->setMinimumWidth(twipsX(1300));
    }
    m_pb1[0]->setDefault(true);
    m_pb1[1]->setVisible(false);
    connect(m_pb1[0], &QPushButton::clicked, this, [this] { rispondi(7); });
    connect(m_pb1[1], &QPushButton::clicked, this, [this] { rispondi(8); });

    auto* pulsanti = new QHBoxLayout;
    pulsanti->addStretch();
    pulsanti->addWidget(m_pb1[1]);
    pulsanti->addWidget(m_pb1[0]);

    auto* colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(twipsX(240), twipsY(180), twipsX(240), twipsY(180));
    colonna->addWidget(m_label1);
    colonna->addWidget(m_line1);
    colonna->addSpacing(twipsY(120));
    colonna->addWidget(m_label2[0]);
    colonna->addWidget(m_label2[1]);
    colonna->addStretch();
    colonna->addLayout(pulsanti);
}

void MsgForm::nascondiRigheVuote() {
    for (QLabel* riga : m_label2)
        if (riga->text() == TestoNonImpostato)
            riga->setVisible(false);
}

bool MsgForm::event(QEvent* evento) {
    if (evento->type() == QEvent::WindowActivate)
        nascondiRigheVuote();
    return QDialog::event(evento);
}

void MsgForm::showEvent(QShowEvent* evento) {
    // Hidden already before the first paint, so an unset line never flashes.
    nascondiRigheVuote();
    QDialog::showEvent(evento);
}

void MsgForm::rispondi(qint16 risposta) {
    RispostaMsg = risposta;
    m_rispostaData = true;
    done(risposta);
}

void MsgForm::closeEvent(QCloseEvent* evento) {
    // Only the buttons close the window: a close request of the window system is refused.
    if (m_rispostaData)
        QDialog::closeEvent(evento);
    else
        evento->ignore();
}

void MsgForm::keyPressEvent(QKeyEvent* evento) {
    if (evento->key() == Qt::Key_Escape) {
        evento->accept();
        return;
    }
    QDialog::keyPressEvent(evento);
}

void MsgForm::paintEvent(QPaintEvent* evento) {
    QPainter p(this);
    p.drawPixmap(0, 0, immagini::sfondoMessaggio(size()));
    QDialog::paintEvent(evento);
}

} // namespace qvr
