#include "dialogs/campo_numero.h"

#include "archive/errori.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>

#include <limits>

namespace qvr {

namespace {
bool cifra(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool soloCifre(const QString& testo) {
    for (QChar c : testo)
        if (!cifra(c))
            return false;
    return true;
}

// Text that a key would type: printable characters only (control characters such as Tab,
// Escape, Delete or the Ctrl+letter codes belong to navigation and shortcuts).
bool testoStampabile(const QString& testo) {
    if (testo.isEmpty())
        return false;
    for (QChar c : testo)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}
} // namespace

CampoNumero::CampoNumero(const QString& testoRiposo, QWidget* parent)
    : QLineEdit(testoRiposo, parent), m_testoRiposo(testoRiposo) {
    // The validator alone bounds the length: a length limit would cut a pasted or dropped text
    // to nine digits before the validator could refuse it, so a text arriving whole (Ctrl+V,
    // Shift+Insert, the middle-click paste, a drop) either leaves digits within the limit or is
    // refused whole.
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(CifreMassime)), this));
}

void CampoNumero::ripristina() {
    setText(m_testoRiposo);
    selectAll();
}

qint32 CampoNumero::valore() const {
    return valoreDi(text());
}

qint32 CampoNumero::valoreDi(const QString& testo) {
    qint64 valore = 0;
    for (QChar c : testo) {
        if (!cifra(c))
            break;
        valore = valore * 10 + (c.unicode() - '0');
        if (valore > std::numeric_limits<qint32>::max())
            throw ErroreQvr(Err::Overflow, testo);
    }
    return static_cast<qint32>(valore);
}

void CampoNumero::svuotaAppuntiESeleziona() {
    if (QClipboard* appunti = QGuiApplication::clipboard())
        appunti->clear(QClipboard::Clipboard);
    selectAll();
}

void CampoNumero::focusInEvent(QFocusEvent* evento) {
    QLineEdit::focusInEvent(evento);
    svuotaAppuntiESeleziona();
    if (evento->reason() == Qt::MouseFocusReason) {
        // The press that gave the focus is delivered right after this event and would drop the
        // selection: select again after it (or on the next turn of the loop if none comes).
        m_selezionaDopoClic = true;
        QTimer::singleShot(0, this, [this] {
            if (m_selezionaDopoClic) {
                m_selezionaDopoClic = false;
                selectAll();
            }
        });
    }
}

void CampoNumero::mousePressEvent(QMouseEvent* evento) {
    QLineEdit::mousePressEvent(evento);
    if (m_selezionaDopoClic) {
        m_selezionaDopoClic = false;
        selectAll();
    }
}

void CampoNumero::keyPressEvent(QKeyEvent* evento) {
    const int tasto = evento->key();
    if (tasto == Qt::Key_Return || tasto == Qt::Key_Enter) {
        evento->accept();
        QPointer<CampoNumero> questo(this);
        emit invio();
        if (questo)
            questo->selectAll();
        return;
    }
    if (tasto == Qt::Key_Backspace) {
        QLineEdit::keyPressEvent(evento);
        return;
    }
    const QString testo = evento->text();
    const bool scorciatoia = evento->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (!testoStampabile(testo) || scorciatoia) {
        // Navigation, Delete, copy, paste and the other editing shortcuts (the validator keeps
        // a paste to digits).
        QLineEdit::keyPressEvent(evento);
        return;
    }
    if (soloCifre(testo)) {
        QLineEdit::keyPressEvent(evento);
        return;
    }
    evento->accept(); // any other character is discarded
}

void CampoNumero::inputMethodEvent(QInputMethodEvent* evento) {
    const QString consegnato = evento->commitString();
    if (soloCifre(consegnato)) {
        QLineEdit::inputMethodEvent(evento);
        return;
    }
    QString cifre;
    for (QChar c : consegnato)
        if (cifra(c))
            cifre.append(c);
    QInputMethodEvent filtrato(evento->preeditString(), evento->attributes());
    filtrato.setCommitString(cifre, evento->replacementStart(), evento->replacementLength());
    QLineEdit::inputMethodEvent(&filtrato);
    evento->accept();
}

} // namespace qvr
