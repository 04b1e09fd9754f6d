#pragma once
// The kiosk's own settings: Qt's INI format in the user's configuration folder
// (~/.config/qvr/qvr-totem.ini, organisation "qvr", application "qvr-totem").
//
//   [generale]  cartella, ufficio, ritorno (seconds on the number screen)
//   [stampa]    modo (cups | escpos-cups | escpos-file), stampante (CUPS queue), dispositivo
//               (device file for escpos-file), carta (58 | 80 mm)
//   [pin]       sale, impronta (PBKDF2-HMAC-SHA256 of the PIN, hex): the PIN itself is never kept
//   [servizi]   an array of etichetta + sequenza ("P1".."P11")
//
// Reading never fails: every bad value is left at its default and described in `problemi`
// with its error number, so that the kiosk can say what is wrong and open its settings window.

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

    // Reads the settings file; `problemi` receives one Italian line per bad value.
    static ImpostazioniTotem carica(QStringList* problemi = nullptr);
    // Writes the whole settings file; an ErroreQvr (75, 57) when it cannot be written.
    void salva() const;
    // Where the settings file lies.
    static QString percorsoFile();

    bool haPin() const { return !impronta.isEmpty() && !sale.isEmpty(); }
    void impostaPin(const QString& pin); // an empty PIN removes it
    bool verificaPin(const QString& pin) const;
};

// "P1".."P11" and back (0 for a text that names no sequence).
QString nomeSequenza(int sequenza);
int sequenzaDaNome(const QString& nome);
QString nomeModo(ModoStampa modo);

// PBKDF2-HMAC-SHA256, one 32-byte block.
QByteArray pbkdf2(const QByteArray& pin, const QByteArray& sale, int iterazioni);

} // namespace qvr::totem
