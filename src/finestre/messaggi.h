#pragma once
// Standard message boxes (error, information, question), through one wrapper so that tests can
// answer them: with an answer queued, the next box is not shown and returns that answer at once.
// Every box, shown or answered, is recorded for the tests to look at.
//
// A box opens over the program's visible window: the given owner when it is shown, otherwise the
// window the operator is working in (the open modal window, the active window, else the visible
// window of the program), never alone in a corner of the screen.

#include <QList>
#include <QMap>
#include <QMessageBox>
#include <QString>

class QWidget;

namespace qvr {
class ErroreQvr;
}

namespace qvr::messaggi {

enum class Icona { Critica, Informazione, Domanda, Avviso };

// Captions of the buttons that do not keep their standard text ("A&zzera" on Yes): the answer
// is still the standard button, so that tests answer every box alike.
using TestiPulsanti = QMap<QMessageBox::StandardButton, QString>;

QMessageBox::StandardButton mostra(QWidget* genitore, Icona icona, const QString& titolo,
                                   const QString& testo,
                                   QMessageBox::StandardButtons pulsanti = QMessageBox::Ok,
                                   QMessageBox::StandardButton predefinito = QMessageBox::NoButton,
                                   const QString& dettagli = {},
                                   const TestiPulsanti& testiPulsanti = {});

// The report of a failure: its number and Italian description, the file or table concerned and
// `coda` (e.g. that the program ends) in the box; the engine's own text in its details.
void mostraErrore(QWidget* genitore, const QString& titolo, const ErroreQvr& errore,
                  const QString& coda = {});

// The window a box opens over when `genitore` is null or hidden.
QWidget* finestraDelProgramma(QWidget* genitore);

struct Mostrato {
    Icona icona;
    QString titolo;
    QString testo;
    QMessageBox::StandardButtons pulsanti;
    QMessageBox::StandardButton predefinito;
    QString dettagli;
    TestiPulsanti testiPulsanti;
};

// Tests.
void accodaRisposta(QMessageBox::StandardButton risposta);
// While set, every box with no queued answer answers at once with its default button (or the
// first of its buttons).
void impostaRispostaAutomatica(bool attiva);
const QList<Mostrato>& registro();
void azzeraRegistro();

} // namespace qvr::messaggi
