#pragma once
// The program's own modal message window: a fixed heading, two message lines set by the caller
// and one or two buttons. The answer is left in the program-wide RispostaMsg: 7 "C&hiudi",
// 8 "&Conferma".
//
// Use a fresh window every time (a stack object):
//     MsgForm m(parent);
//     m.Label2(0)->setText("...");
//     m.PB1(1)->setVisible(true);   // a question
//     m.exec();
//     if (qvr::RispostaMsg == 8) ...
//
// A line still reading "Label2" is hidden when the window is shown. The window has no close box
// and ignores Esc: it closes only through one of its buttons, so a question is always answered.

#include <QDialog>

#include <array>

class QFrame;
class QLabel;
class QPushButton;

namespace qvr {

class MsgForm : public QDialog {
    Q_OBJECT

public:
    explicit MsgForm(QWidget* parent = nullptr);

    QLabel* Label1() const { return m_label1; }
    QLabel* Label2(int indice) const { return m_label2.at(indice); }
    QPushButton* PB1(int indice) const { return m_pb1.at(indice); }

    static const QString TestoIntestazione;
    static const QString TestoNonImpostato; // "Label2": a line the caller did not set

protected:
    bool event(QEvent* evento) override;
    void showEvent(QShowEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;
    void paintEvent(QPaintEvent* evento) override;

private:
    void nascondiRigheVuote();
    void rispondi(qint16 risposta);

    QLabel* m_label1 = nullptr;
    std::array<QLabel*, 2> m_label2{};
    std::array<QPushButton*, 2> m_pb1{};
    QFrame* m_line1 = nullptr;
    bool m_rispostaData = false;
};

} // namespace qvr
