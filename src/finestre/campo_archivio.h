#pragma once
// The archive field of every settings window: the archive is a folder (chosen with the folder
// chooser) or the address of a database server (postgresql://...). A server address is checked
// before it is saved, with the same Italian messages in every program.

#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;
class QPushButton;

namespace qvr::archivio_campo {

// "Indirizzo del server non valido !": the first line of the message, the reason below it.
extern const QString TestoServerNonValido;

// The folder chooser: the chosen folder as the system writes it, or "" when the operator
// cancels. Tests replace `sceltaCartella` (owner, folder shown); when empty the system folder
// dialog "Selezionare la cartella" is used.
extern std::function<QString(QWidget*, const QString&)> sceltaCartella;
QString scegliCartella(QWidget* genitore, const QString& iniziale = {});

// The address of a server, asked in a text box (the address shown without its password);
// "" when the operator cancels.
QString chiediServer(QWidget* genitore, const QString& attuale);

// Why `scelta` cannot be saved as a server address, or "" when it can: not a postgresql:// or
// postgres:// address, an address that does not parse, or a masked password (***) kept in an
// address changed otherwise. `salvato` is the value saved until now (a masked password given
// back with the address unchanged is that value's own).
QString motivoServerNonValido(const QString& scelta, const QString& salvato = {});

// The value as a window shows it: a server address without its password.
QString perSchermo(const QString& valore);

} // namespace qvr::archivio_campo

namespace qvr {

// The line of a settings window: the archive as text (a folder or a server address) and
// "&Sfoglia..." for the folder chooser.
class CampoArchivio : public QWidget {
    Q_OBJECT
public:
    explicit CampoArchivio(const QString& valore, QWidget* parent = nullptr);

    QString valore() const;
    QLineEdit* testo() const { return m_testo; }
    QPushButton* sfoglia() const { return m_sfoglia; }

    // True when the value may be saved: a folder, or a sound server address. Otherwise the
    // operator is told why ("Indirizzo del server non valido !" and the reason) and the field
    // takes the focus.
    bool controlla();

private:
    QLineEdit* m_testo;
    QPushButton* m_sfoglia;
    QString m_salvato;
};

} // namespace qvr
