#pragma once
// The archive path and station settings window: the operator chooses the archive folder and the
// station of this copy, and saves both in percorsi.txt. Always opened modally by the launcher.
//
// Each time the window becomes the active window of the program (app/attivazione.h) it reads
// percorsi.txt again (silently when it cannot) and shows the stored folder; it never selects a
// station button. The folder text and the station number it keeps survive for the whole run, across
// openings of the window. A server address is shown with its password masked; the value saved is
// the whole address.

#include "archive/nomi.h"

#include <QDialog>

#include <array>
#include <functional>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace qvr {

class ImpoRete : public QDialog {
    Q_OBJECT

public:
    explicit ImpoRete(QWidget* parent = nullptr);

    QGroupBox* GroupBox1() const { return m_groupBox1; }
    QRadioButton* R1(int indice) const { return m_r1.at(indice); }
    QLabel* Label1() const { return m_label1; }
    QLabel* txtshortcutdir() const { return m_txtshortcutdir; }
    QPushButton* cbt(int indice) const { return m_cbt.at(indice); }
    QLabel* Image1() const { return m_image1; }

    // True when the window was closed by a successful save (not by Close or the close box).
    bool salvato() const { return m_salvato; }

    // The folder chooser: given the owner window, returns the chosen folder or an empty text
    // when the operator cancels. Tests replace it; when empty the system folder dialog is used.
    static std::function<QString(QWidget*)> sceltaCartella;
    // The same for the address of a database server (a postgresql:// URI), asked by the
    // button "Archivio su ser&ver..."; given the owner and the address shown, returns the new
    // address or an empty text when the operator cancels.
    static std::function<QString(QWidget*, const QString&)> sceltaServer;
    QPushButton* cbtServer() const { return m_cbtServer; }

    // What the window keeps for the whole run.
    static QString cartellaMemorizzata();
    static qint16 postazioneMemorizzata();
    // Back to the state of a fresh run (tests).
    static void azzeraMemoria();

    static const QString TestoSegnaposto; // "Percorso da impostare!"

public slots:
    void SfogliaCartella();
    // Asks for a server address; an address that is no valid URI is refused with a message.
    void ImpostaServer();
    void Salva();

private:
    void disponi();
    void attivazione();
    // Keeps the archive value and shows it (a server address without its password).
    void mostraValore(const QString& valore);

    QPushButton* m_cbtServer = nullptr;
    QGroupBox* m_groupBox1 = nullptr;
    QButtonGroup* m_gruppo = nullptr;
    std::array<QRadioButton*, nomi::NumeroPostazioni> m_r1{};
    QLabel* m_label1 = nullptr;
    QLabel* m_txtshortcutdir = nullptr;
    QString m_valore = TestoSegnaposto; // the archive value the label shows, as it is saved
    std::array<QPushButton*, 3> m_cbt{};
    QLabel* m_image1 = nullptr;
    bool m_salvato = false;

    static QString s_cartella;
    static qint16 s_postazione;
};

} // namespace qvr
