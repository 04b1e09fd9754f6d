#pragma once
// The number request dialog "Richiesta Numero": the number from which the station's numbering
// restarts. The opener writes the numbering mode into Label1 ("Numerazione Standard" or
// "Numerazione Singola") before showing it modally; "Con&ferma" acts on that caption.
//
// Standard numbering: the value goes into the station's display record (state 1, flag "F") and
// the console shows the text as typed and "Assente...". Single numbering: after an explicit
// warning the value is written into the counter file shared by every station, and the console
// shows the number.
//
// A counter file held by another station or unreachable is reported with its error number and
// description; nothing changes and the dialog stays open, so the operator can try again. Any
// other failure is the program's usual failure report.

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QString>

class QPushButton;
class QGroupBox;

namespace qvr {
class CampoNumero;
}

class boxinputta : public QDialog {
    Q_OBJECT
public:
    static inline const QString ModoStandard = QStringLiteral("Numerazione Standard");
    static inline const QString ModoSingola = QStringLiteral("Numerazione Singola");

    // numeroConsole and statoConsole are the console's Label1(1) and Label1(2).
    boxinputta(QLabel* numeroConsole, QLabel* statoConsole, QWidget* parent = nullptr);

    QLabel* Label1() const { return m_label1; }
    qvr::CampoNumero* f() const { return m_f; }

    // The question asked before setting the shared counter.
    static QString testoDomandaSingola();

    void Command1_Click(int indice);

private:
    void ImpostaNumeroStandard();
    void ImpostaNumeroSingola();

    QPointer<QLabel> m_numeroConsole;
    QPointer<QLabel> m_statoConsole;
    QLabel* m_label = nullptr;
    QLabel* m_label1 = nullptr;
    qvr::CampoNumero* m_f = nullptr;
    QPushButton* m_command1[2] = {nullptr, nullptr};
    QGroupBox* m_groupBox2 = nullptr;
};
