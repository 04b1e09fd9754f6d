#pragma once
// The number field of the console (rest text "00000") and of the number request dialog ("000").
//
// On focus the system clipboard is cleared and the whole text selected, so that typing replaces
// the number shown (also when the focus comes by a mouse click). Only the digits 0-9 and
// Backspace are typed into it; Enter is consumed and emits invio(), after which the whole text is
// selected again; every other character is discarded. Navigation keys and shortcuts keep working.
// At most 9 digits, so every number the field holds fits in 32 bits. A validator keeps pasting
// and dropping to digits as well: a text that would leave anything else is refused whole.

#include <QLineEdit>
#include <QString>

class QFocusEvent;
class QInputMethodEvent;
class QKeyEvent;
class QMouseEvent;

namespace qvr {

class CampoNumero : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int CifreMassime = 9;

    explicit CampoNumero(const QString& testoRiposo, QWidget* parent = nullptr);

    QString testoRiposo() const { return m_testoRiposo; }
    // Back to the rest text, all of it selected.
    void ripristina();

    // The value of the leading digits of the text (an empty text, or one that does not start
    // with a digit, gives 0). A value beyond 32 bits is error 6.
    qint32 valore() const;
    static qint32 valoreDi(const QString& testo);

signals:
    // Enter or Return typed in the field.
    void invio();

protected:
    void focusInEvent(QFocusEvent* evento) override;
    void mousePressEvent(QMouseEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;
    void inputMethodEvent(QInputMethodEvent* evento) override;

private:
    void svuotaAppuntiESeleziona();

    QString m_testoRiposo;
    bool m_selezionaDopoClic = false;
};

} // namespace qvr
