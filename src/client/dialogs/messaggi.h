#pragma once
// Standard message boxes (error, information, question), through one wrapper so that tests can
// answer them: with an answer queued, the next box is not shown and returns that answer at once.
// Every box, shown or answered, is recorded for the tests to look at.

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

namespace qvr::messaggi {

enum class Icona { Critica, Informazione, Domanda, Avviso };

QMessageBox::StandardButton mostra(QWidget* genitore, Icona icona, const QString& titolo,
                                   const QString& testo,
                                   QMessageBox::StandardButtons pulsanti = QMessageBox::Ok,
                                   QMessageBox::StandardButton predefinito = QMessageBox::NoButton);

struct Mostrato {
    Icona icona;
    QString titolo;
    QString testo;
    QMessageBox::StandardButtons pulsanti;
    QMessageBox::StandardButton predefinito;
};

// Tests.
void accodaRisposta(QMessageBox::StandardButton risposta);
// While set, every box with no queued answer answers at once with its default button (or the
// first of its buttons).
void impostaRispostaAutomatica(bool attiva);
const QList<Mostrato>& registro();
void azzeraRegistro();

} // namespace qvr::messaggi
