#pragma once
// The manager's window: the archive line on top, then one tab per page (Postazioni, Utenti,
// Numerazione e totem, Oggi, Archivio, Statistiche). The window only shows and asks: every
// read and write is a call of the models (configurazione.h, oggi.h, manutenzione.h), run on the
// archive's thread while the window keeps painting with the busy pointer. Routine results go
// to the status line; only failures and questions open a box.

#include "ufficio/configurazione.h"
#include "ufficio/oggi.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QChartView;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;

namespace qvr {
class AttesaArchivio;
class CampoArchivio;
class ErroreQvr;
namespace statistiche {
struct Risultato;
}
} // namespace qvr

namespace qvr::ufficio {

class FinestraUfficio : public QMainWindow {
    Q_OBJECT
public:
    // `archivio` may be empty: the window then asks for one.
    explicit FinestraUfficio(const QString& archivio, QWidget* parent = nullptr);
    ~FinestraUfficio() override;

    QString archivio() const { return m_archivio; }
    // The archive's configuration was read: the archive is worth remembering.
    bool aperto() const { return m_confLetta; }
    const Configurazione& configurazione() const { return m_conf; }
    // Opens the archive: reads its configuration and starts the watch on the day. False (with
    // the error shown) when it cannot be read; the window stays usable.
    bool apri(const QString& archivio);
    // Reads the configuration again and shows it.
    bool ricarica();
    QString testoStato() const;

    // The save dialog of the exports (tests put their own): the chosen file or "".
    static std::function<QString(QWidget*, const QString& titolo, const QString& nome,
                                 const QString& filtro)>
        sceltaFile;

signals:
    // After the archive was opened (or failed to open) and after each change written.
    void aggiornata();

private:
    QWidget* creaPostazioni();
    QWidget* creaUtenti();
    QWidget* creaNumerazione();
    QWidget* creaOggi();
    QWidget* creaArchivio();
    QWidget* creaStatistiche();
    void mostraConfigurazione();
    void mostraGiornata(const Giornata& g);
    void erroreOsservatore(int numero, const QString& testo);

    // Runs `lavoro` on the archive's thread; a failure is shown (with its number) and gives
    // false.
    bool esegui(const std::function<void()>& lavoro, const QString& titolo);
    void stato(const QString& testo);

    void cambiaCampo(const Campo& campo, const QVariant& nuovo);
    void aggiungiUtente();
    void rinominaUtente();
    void cambiaIdUtente();
    void rimuoviUtente();
    std::optional<Utente> utenteScelto();
    // The user chosen in the list, or none (and the status line asks to choose one).
    std::optional<Utente> utenteDaCambiare();
    void avvisaUtenteCambiato(qint32 id);
    void nuovaGiornata();
    void creaNuovoArchivio();
    void copiaArchivio();
    void controllaIntegrita();
    void calcolaStatistiche();
    void esporta(bool pdf);
    // Beside a station changed in this window whose last published state is a console's at
    // work: the change waits for that console's next start.
    QString nota(int postazione) const;

    QString m_archivio;
    Configurazione m_conf;
    bool m_confLetta = false;
    std::optional<Giornata> m_giornata;
    std::unique_ptr<statistiche::Risultato> m_figure;
    std::unique_ptr<Osservatore> m_osservatore;
    std::unique_ptr<AttesaArchivio> m_attesa;
    std::array<bool, nomi::NumeroPostazioni> m_cambiata{};

    CampoArchivio* m_campoArchivio = nullptr;
    QLabel* m_avviso = nullptr;
    QLabel* m_stato = nullptr;
    QTabWidget* m_schede = nullptr;
    // Postazioni
    std::array<QComboBox*, nomi::NumeroPostazioni> m_utente{};
    std::array<QComboBox*, nomi::NumeroPostazioni> m_modo{};
    std::array<QLabel*, nomi::NumeroPostazioni> m_numero{};
    std::array<QLabel*, nomi::NumeroPostazioni> m_nota{};
    // Utenti
    QTableWidget* m_tabUtenti = nullptr;
    QSpinBox* m_id = nullptr;
    QLineEdit* m_nominativo = nullptr;
    // Numerazione e totem
    QCheckBox* m_dopo99Standard = nullptr;
    QCheckBox* m_dopo99Singola = nullptr;
    QCheckBox* m_totem = nullptr;
    QCheckBox* m_display = nullptr;
    // Oggi
    QTableWidget* m_tabOggi = nullptr;
    QTableWidget* m_tabCode = nullptr;
    QListWidget* m_chiamate = nullptr;
    // Archivio
    CampoArchivio* m_destinazione = nullptr;
    QCheckBox* m_sovrascrivi = nullptr;
    QPlainTextEdit* m_esito = nullptr;
    // Statistiche
    QDateEdit* m_dal = nullptr;
    QDateEdit* m_al = nullptr;
    QTableWidget* m_tabGiorni = nullptr;
    QTableWidget* m_tabPostazioni = nullptr;
    QChartView* m_grafico = nullptr;
};

} // namespace qvr::ufficio
