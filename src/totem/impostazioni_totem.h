#pragma once
// The kiosk's own settings: Qt's INI format in the user's configuration folder
// (~/.config/qvr/qvr-totem.ini, organisation "qvr", application "qvr-totem").
//
//   [generale]  cartella, ufficio, ritorno (seconds on the number screen)
//   [stampa]    modo (cups | escpos-cups | escpos-file), stampante (CUPS queue), dispositivo
//               (device file for escpos-file), carta (58 | 80 mm)
//   [pin]       sale, impronta (PBKDF2-HMAC-SHA256 of the PIN, hex), iterazioni (missing in
//               files written before it was kept: 20000): the PIN itself is never kept
//   [servizi]   an array of etichetta + sequenza ("P1".."P11")
//
// The file holds the PIN's hash: it is written mode 600 (replaced whole, never half written) and
// a file found readable by others is made 600 when read.
//
// Reading never fails: every bad value is left at its default and described in `problemi`
// with its error number, so that the kiosk can say what is wrong in its status line. The PIN
// fails closed: a damaged [pin] section, or a file that cannot be read or is no settings text
// (without a sound PIN in it), leaves `pinDanneggiato` set, and the settings stay locked until
// the PC's administrator runs `qvr-totem --reimposta-pin`. A file without any PIN (a fresh
// install) leaves the kiosk asking for one before it serves.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace qvr::totem {

struct Servizio {
    QString etichetta;
    int sequenza = 1; // 1..10 a station's own sequence, 11 the shared one
    bool operator==(const Servizio&) const = default;
};

enum class ModoStampa { Cups, EscPosCups, EscPosFile };

struct ImpostazioniTotem {
    QString cartella;
    QString ufficio;
    QList<Servizio> servizi;
    ModoStampa modo = ModoStampa::Cups;
    QString stampante;
    QString dispositivo;
    int carta = 80;      // mm, 58 or 80
    int ritorno = 6;     // seconds
    QByteArray sale;     // hex
    QByteArray impronta; // hex
    int iterazioni = IterazioniPrima;
    bool pinDanneggiato = false; // a PIN was there but cannot be checked: settings locked

    // PBKDF2 iterations of a new PIN (a check costs about a quarter of a second), and of the
    // hashes stored before the count was kept with them.
    static constexpr int IterazioniPin = 100000;
    static constexpr int IterazioniPrima = 20000;
    // The shortest PIN accepted.
    static constexpr int LunghezzaMinimaPin = 4;

    // Reads the settings file; `problemi` receives one Italian line per bad value.
    static ImpostazioniTotem carica(QStringList* problemi = nullptr);
    // Writes the whole settings file (a damaged PIN is kept as found); an ErroreQvr (75, 57) when
    // it cannot be written.
    void salva() const;
    // Writes only the [pin] section, the rest of the file as it is.
    void salvaPin() const;
    // Where the settings file lies.
    static QString percorsoFile();

    bool haPin() const { return !impronta.isEmpty() && !sale.isEmpty(); }
    void impostaPin(const QString& pin); // a new salt, IterazioniPin; an empty PIN removes it
    // False without a PIN that can be checked.
    bool verificaPin(const QString& pin) const;
    // Why a new PIN is refused (too short), or "".
    static QString pinNonValido(const QString& pin);
};

// Wrong PIN tries make the next one wait: none for the first TentativiLiberi, then 5 s, doubled
// at every further wrong try up to 15 minutes. The right PIN starts again from nothing.
class TentativiPin {
public:
    // Milliseconds of a monotonic clock (tests give their own).
    using Orologio = std::function<qint64()>;
    explicit TentativiPin(Orologio orologio = {});

    static constexpr int TentativiLiberi = 3;
    static constexpr qint64 PrimaPausa = 5000;
    static constexpr qint64 PausaMassima = 15 * 60 * 1000;

    // Milliseconds before the next try is taken; 0 when it is taken now.
    qint64 attesa() const;
    void errato();
    void giusto();
    int errati() const { return m_errati; }

private:
    Orologio m_orologio;
    int m_errati = 0;
    qint64 m_finoA = 0;
};

// `qvr-totem --reimposta-pin`: asks the new PIN twice on the terminal (not echoed) and writes it
// into the settings file, the rest of the file kept. The exit status: 0 done, 1 not done.
int reimpostaPinDaTerminale();

// "P1".."P11" and back (0 for a text that names no sequence).
QString nomeSequenza(int sequenza);
int sequenzaDaNome(const QString& nome);
QString nomeModo(ModoStampa modo);

// PBKDF2-HMAC-SHA256, one 32-byte block.
QByteArray pbkdf2(const QByteArray& pin, const QByteArray& sale, int iterazioni);

} // namespace qvr::totem
