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
//   [web]       indirizzo: the public address of the office's server (http://HOST:PORTA); when
//               set, each ticket carries a QR code of its page on the phone
//
// The file holds the PIN's hash: it is written mode 600 (replaced whole, never half written) and
// a file found readable by others is made 600 when read.
//
// Reading never fails: every bad value is left at its default and described in a Problema
// (its key, the text with its error number), so that the kiosk can say what is wrong in its
// status line. The PIN
// fails closed: a damaged [pin] section, or a file that cannot be read or is no settings text
// (without a sound PIN in it), leaves `pinDanneggiato` set, and the settings stay locked until
// the PC's administrator runs `qvr-totem --reimposta-pin`. A file without any PIN (a fresh
// install) leaves the kiosk asking for one before it serves.

#include "finestre/impostazioni_programma.h"
#include "finestre/richiesta_pin.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace qvr::totem {

struct Servizio {
    QString etichetta;
    int sequenza = 1; // 1..10 a station's own sequence, 11 the shared one
    bool operator==(const Servizio&) const = default;
};

enum class ModoStampa { Cups, EscPosCups, EscPosFile };

// The file's keys and what a missing key stands for.
namespace chiavi {
inline const Chiave<QString> cartella{"generale/cartella", QString()};
inline const Chiave<QString> ufficio{"generale/ufficio", QString()};
inline constexpr Chiave<int> ritorno{"generale/ritorno", 6}; // seconds
inline const Chiave<QString> modo{"stampa/modo", QStringLiteral("cups")};
inline const Chiave<QString> stampante{"stampa/stampante", QString()};
inline const Chiave<QString> dispositivo{"stampa/dispositivo", QString()};
inline constexpr Chiave<int> carta{"stampa/carta", 80}; // mm, 58 or 80
inline const Chiave<QString> indirizzo{"web/indirizzo", QString()};
inline const Chiave<QByteArray> sale{"pin/sale", QByteArray()};
inline const Chiave<QByteArray> impronta{"pin/impronta", QByteArray()};
// Missing in files written before the count was kept with the hash.
inline constexpr Chiave<int> iterazioni{"pin/iterazioni", 20000};
constexpr const char* GruppoPin = "pin";
// An array of etichetta + sequenza.
constexpr const char* Servizi = "servizi";
constexpr const char* Etichetta = "etichetta";
constexpr const char* Sequenza = "sequenza";
} // namespace chiavi

struct ImpostazioniTotem {
    QString cartella = chiavi::cartella.predefinito;
    QString ufficio = chiavi::ufficio.predefinito;
    QList<Servizio> servizi;
    ModoStampa modo = ModoStampa::Cups;
    QString stampante = chiavi::stampante.predefinito;
    QString dispositivo = chiavi::dispositivo.predefinito;
    int carta = chiavi::carta.predefinito;             // mm, 58 or 80
    int ritorno = chiavi::ritorno.predefinito;         // seconds
    QString indirizzo = chiavi::indirizzo.predefinito; // the server's public address, or empty
    QByteArray sale;                                   // hex
    QByteArray impronta;                               // hex
    int iterazioni = IterazioniPrima;
    bool pinDanneggiato = false; // a PIN was there but cannot be checked: settings locked

    // PBKDF2 iterations of a new PIN (a check costs about a quarter of a second), and of the
    // hashes stored before the count was kept with them.
    static constexpr int IterazioniPin = 100000;
    static constexpr int IterazioniPrima = chiavi::iterazioni.predefinito;
    // The shortest PIN accepted.
    static constexpr int LunghezzaMinimaPin = 4;

    // Reads the settings file; `problemi` receives one problem per bad value.
    static ImpostazioniTotem carica(QList<Problema>* problemi = nullptr);
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

// The pause after wrong PIN tries lives with the PIN prompt.
using qvr::TentativiPin;

// `qvr-totem --reimposta-pin`: asks the new PIN twice on the terminal (not echoed) and writes it
// into the settings file, the rest of the file kept. The exit status: 0 done, 1 not done.
int reimpostaPinDaTerminale();

// Why `testo` is no public address of a server (http:// or https://, a host, an optional port
// and path, no blanks, at most 200 characters), or "" when it is one; an empty text is none.
QString indirizzoNonValido(const QString& testo);
// The address of the ticket's page: `indirizzo` without its final "/", then /biglietto/CODICE.
QString indirizzoBiglietto(const QString& indirizzo, const QString& codice);

// "P1".."P11" and back (0 for a text that names no sequence).
QString nomeSequenza(int sequenza);
int sequenzaDaNome(const QString& nome);
QString nomeModo(ModoStampa modo);

// PBKDF2-HMAC-SHA256, one 32-byte block.
QByteArray pbkdf2(const QByteArray& pin, const QByteArray& sale, int iterazioni);

} // namespace qvr::totem
