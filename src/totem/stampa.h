#pragma once
// Printing a ticket on roll paper, never a full page and never through a dialog.
//
//   cups         the ticket drawn as a PDF page of the roll's width (58 or 80 mm) and sent to
//                the CUPS queue by libcups; accepted means CUPS gave the job a number.
//   escpos-cups  ESC/POS bytes for thermal printers without a driver, through a raw CUPS queue.
//   escpos-file  the same bytes written to a device file (/dev/usb/lp0).
//
// Before sending, the queue's state is asked: a missing queue, a stopped printer, a printer
// out of paper or offline, or one that refuses jobs is reported instead of printing.
//
// A device file is opened and written without blocking: a device that takes no bytes (a printer
// that stopped reading, a FIFO nobody reads) fails the ticket once its time is up, instead of
// leaving a thread blocked for good.

#include "totem/impostazioni_totem.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QString>

#include <utility>
#include <vector>

namespace qvr::totem {

struct DatiBiglietto {
    DatiBiglietto() = default;
    DatiBiglietto(QString ufficio_, QString servizio_, qint32 numero_, qint32 davanti_,
                  QDateTime quando_, QString qr_ = {})
        : ufficio(std::move(ufficio_)), servizio(std::move(servizio_)), numero(numero_),
          davanti(davanti_), quando(std::move(quando_)), qr(std::move(qr_)) {}
    QString ufficio;
    QString servizio;
    qint32 numero = 0;
    qint32 davanti = -1; // -1: not known, the line is left out
    QDateTime quando;
    // The address of the ticket's page on the phone, printed as a QR code; empty: none.
    QString qr;
};

// A QR code's modules, row by row (true: dark), `lato` on each side; empty when the text cannot
// be encoded. Error correction level M, the smallest version that holds the text.
struct MatriceQr {
    int lato = 0;
    std::vector<bool> moduli;
    bool scuro(int x, int y) const { return moduli[size_t(y * lato + x)]; }
};
MatriceQr matriceQr(const QString& testo);

// ESC/POS's own QR command (GS ( k, model 2, level M) printing `testo` with modules `modulo`
// dots wide, centred.
QByteArray escPosQr(const QByteArray& testo, int modulo);

// The lines of text every ticket carries, in order (the number apart).
QString rigaDavanti(qint32 davanti);

// The ticket as a one-page PDF of width `carta` mm.
QByteArray pdfBiglietto(const DatiBiglietto& dati, int carta);

// The ticket as ESC/POS bytes: initialise (ESC @), the centred lines, the number in the largest
// character size, a feed and a partial cut (GS V 66 n). Text in code page 858.
QByteArray escPosBiglietto(const DatiBiglietto& dati, int carta);

struct EsitoStampa {
    bool riuscita = false;
    int lavoro = 0; // the CUPS job id when accepted
    QString errore; // Italian, when not riuscita
};

class Stampante {
public:
    explicit Stampante(const ImpostazioniTotem& impostazioni);

    // Whether the printer can print now: an empty text, or the Italian reason it cannot.
    QString problema() const;
    // Prints one ticket (blocking: run off the user-interface thread). A device file that does
    // not take the ticket's bytes before `scadenza` fails it (CUPS has its own timeouts).
    EsitoStampa stampa(const DatiBiglietto& dati,
                       QDeadlineTimer scadenza = QDeadlineTimer(TempoDispositivo)) const;

    // How long a device file may take to accept one ticket, in milliseconds.
    static constexpr int TempoDispositivo = 3000;

private:
    EsitoStampa inviaCups(const QByteArray& dati, const char* formato, qint32 numero,
                          bool conQr) const;

    ModoStampa m_modo;
    QString m_coda;
    QString m_dispositivo;
    int m_carta;
};

} // namespace qvr::totem
