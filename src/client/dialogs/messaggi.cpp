#include "dialogs/messaggi.h"

#include <QQueue>

namespace qvr::messaggi {

namespace {
QQueue<QMessageBox::StandardButton> risposte;
bool automatica = false;
QList<Mostrato> mostrati;

QMessageBox::Icon iconaQt(Icona icona) {
    switch (icona) {
    case Icona::Critica:
        return QMessageBox::Critical;
    case Icona::Informazione:
        return QMessageBox::Information;
    case Icona::Domanda:
        return QMessageBox::Question;
    case Icona::Avviso:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton primoPulsante(QMessageBox::StandardButtons pulsanti) {
    for (unsigned bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1)
        if (pulsanti.testFlag(static_cast<QMessageBox::StandardButton>(bit)))
            return static_cast<QMessageBox::StandardButton>(bit);
    return QMessageBox::NoButton;
}
} // namespace

QMessageBox::StandardButton mostra(QWidget* genitore, Icona icona, const QString& titolo,
                                   const QString& testo, QMessageBox::StandardButtons pulsanti,
                                   QMessageBox::StandardButton predefinito) {
    mostrati.append({icona, titolo, testo, pulsanti, predefinito});
    if (!risposte.isEmpty())
        return risposte.dequeue();
    if (automatica)
        return predefinito != QMessageBox::NoButton ? predefinito : primoPulsante(pulsanti);

    QMessageBox box(iconaQt(icona), titolo, testo, pulsanti, genitore);
    if (predefinito != QMessageBox::NoButton)
        box.setDefaultButton(predefinito);
    box.setObjectName(QStringLiteral("messaggioQvr"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void accodaRisposta(QMessageBox::StandardButton risposta) {
    risposte.enqueue(risposta);
}
void impostaRispostaAutomatica(bool attiva) {
    automatica = attiva;
}
const QList<Mostrato>& registro() {
    return mostrati;
}
void azzeraRegistro() {
    mostrati.clear();
    risposte.clear();
}

} // namespace qvr::messaggi
