#include "finestre/messaggi.h"

#include "archive/errori.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QQueue>
#include <QWidget>

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

QWidget* finestraDelProgramma(QWidget* genitore) {
    if (genitore && genitore->isVisible())
        return genitore->window();
    if (QWidget* modale = QApplication::activeModalWidget())
        return modale;
    if (QWidget* attiva = QApplication::activeWindow())
        return attiva;
    // Back from another application, a timer's report: over the program's visible window.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow() && !w->windowFlags().testFlag(Qt::ToolTip) &&
            (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog))
            return w;
    return nullptr;
}

QMessageBox::StandardButton mostra(QWidget* genitore, Icona icona, const QString& titolo,
                                   const QString& testo, QMessageBox::StandardButtons pulsanti,
                                   QMessageBox::StandardButton predefinito, const QString& dettagli,
                                   const TestiPulsanti& testiPulsanti) {
    mostrati.append({icona, titolo, testo, pulsanti, predefinito, dettagli, testiPulsanti});
    if (!risposte.isEmpty())
        return risposte.dequeue();
    if (automatica)
        return predefinito != QMessageBox::NoButton ? predefinito : primoPulsante(pulsanti);

    QMessageBox box(iconaQt(icona), titolo, testo, pulsanti, finestraDelProgramma(genitore));
    if (!dettagli.isEmpty())
        box.setDetailedText(dettagli);
    if (predefinito != QMessageBox::NoButton)
        box.setDefaultButton(predefinito);
    for (auto it = testiPulsanti.cbegin(); it != testiPulsanti.cend(); ++it)
        if (QAbstractButton* pulsante = box.button(it.key())) {
            // A caption of its own, without the standard button's icon.
            pulsante->setText(it.value());
            pulsante->setIcon(QIcon());
        }
    box.setObjectName(QStringLiteral("messaggioQvr"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void mostraErrore(QWidget* genitore, const QString& titolo, const ErroreQvr& errore,
                  const QString& coda) {
    QString testo =
        QStringLiteral("Errore n. %1\n%2").arg(errore.numero()).arg(errore.descrizione());
    if (!errore.dettaglio().isEmpty())
        testo += QStringLiteral("\n\n") + errore.dettaglio();
    if (!coda.isEmpty())
        testo += QStringLiteral("\n\n") + coda;
    mostra(genitore, Icona::Critica, titolo, testo, QMessageBox::Ok, QMessageBox::NoButton,
           errore.testoMotore());
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
