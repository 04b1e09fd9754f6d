#include "totem/stampa.h"

#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cups/cups.h>
#include <qrencode.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qvr::totem {

namespace {

// The QR code's side on paper: easy for a phone at 20 cm.
constexpr double LatoQrMm(int carta) {
    return carta == 58 ? 30.0 : 36.0;
}

QString testoData(const QDateTime& quando) {
    return quando.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

// Height of the ticket page: enough for its lines (and its QR code), short enough to spare
// paper.
double altezzaMm(int carta, bool conQr) {
    return (carta == 58 ? 90.0 : 100.0) + (conQr ? LatoQrMm(carta) + 12.0 : 0.0);
}

// Latin-1 letters of Italian texts in code page 858; anything else outside ASCII is "?".
QByteArray cp858(const QString& testo) {
    static const std::pair<char16_t, unsigned char> tabella[] = {
        {u'à', 0x85}, {u'è', 0x8A}, {u'é', 0x82}, {u'ì', 0x8D}, {u'ò', 0x95},
        {u'ù', 0x97}, {u'À', 0xB7}, {u'È', 0xD4}, {u'É', 0x90}, {u'Ì', 0xDE},
        {u'Ò', 0xE3}, {u'Ù', 0xEB}, {u'°', 0xF8}, {u'€', 0xD5}};
    QByteArray b;
    for (const QChar c : testo) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F) {
            b += static_cast<char>(u);
            continue;
        }
        char sostituto = '?';
        for (const auto& [lettera, codice] : tabella)
            if (lettera == u)
                sostituto = static_cast<char>(codice);
        b += sostituto;
    }
    return b;
}

// Writes the whole of `dati` to the device file without ever blocking past `scadenza`: an empty
// text, or the Italian reason it was not written.
QString scriviDispositivo(const QString& percorso, const QByteArray& dati,
                          QDeadlineTimer scadenza) {
    const QByteArray nome = QFile::encodeName(percorso);
    const int fd =
        ::open(nome.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO) // a FIFO without a reader, a device not connected
            return QStringLiteral("%1: dispositivo non pronto").arg(percorso);
        return QStringLiteral("%1: %2").arg(percorso, QString::fromLocal8Bit(std::strerror(errno)));
    }
    QString errore;
    qsizetype scritti = 0;
    while (scritti < dati.size()) {
        const ssize_t n =
            ::write(fd, dati.constData() + scritti, static_cast<size_t>(dati.size() - scritti));
        if (n > 0) {
            scritti += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            errore = QStringLiteral("%1: %2").arg(percorso,
                                                  QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        // The device takes no more bytes now: wait until it does, or the time is up.
        pollfd attesa{fd, POLLOUT, 0};
        const qint64 resta = scadenza.remainingTime();
        const int pronto = resta == 0 ? 0 : ::poll(&attesa, 1, static_cast<int>(resta));
        if (pronto < 0 && errno == EINTR)
            continue;
        if (pronto <= 0) {
            errore = QStringLiteral("%1: il dispositivo non accetta il biglietto (%2 byte su %3)")
                         .arg(percorso)
                         .arg(scritti)
                         .arg(dati.size());
            break;
        }
        if (attesa.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            errore = QStringLiteral("%1: dispositivo scollegato").arg(percorso);
            break;
        }
    }
    ::close(fd);
    return errore;
}

} // namespace

QString rigaDavanti(qint32 davanti) {
    if (davanti < 0)
        return {};
    if (davanti == 1)
        return QStringLiteral("1 persona prima di lei");
    return QStringLiteral("%1 persone prima di lei").arg(davanti);
}

QByteArray pdfBiglietto(const DatiBiglietto& dati, int carta) {
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(QStringLiteral("Biglietto %1").arg(dati.numero));
        writer.setCreator(QStringLiteral("qvr-totem"));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(
            QPageSize(QSizeF(carta, altezzaMm(carta, !dati.qr.isEmpty())), QPageSize::Millimeter,
                      QStringLiteral("Rotolo %1 mm").arg(carta), QPageSize::ExactMatch),
            QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        QPainter p(&writer);
        const double mm = writer.resolution() / 25.4;
        // The printable width of a roll is about 48 or 72 mm: keep 5 mm free each side.
        const double margine = (carta == 58 ? 5.0 : 4.0) * mm;
        const double larghezza = carta * mm - 2 * margine;
        double y = 4 * mm;
        const auto riga = [&](const QString& testo, double corpoMm, bool grassetto) {
            if (testo.isEmpty())
                return;
            QFont f(QStringLiteral("DejaVu Sans"));
            f.setPixelSize(static_cast<int>(corpoMm * mm));
            f.setBold(grassetto);
            p.setFont(f);
            const QRectF r(margine, y, larghezza, corpoMm * mm * 1.4);
            p.drawText(r, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap, testo);
            y += r.height();
        };
        const double scala = carta / 80.0;
        riga(dati.ufficio, 5 * scala, true);
        y += 2 * mm;
        riga(QString::number(dati.numero), 30 * scala, true);
        riga(dati.servizio, 6 * scala, true);
        y += 2 * mm;
        riga(rigaDavanti(dati.davanti), 4 * scala, false);
        riga(testoData(dati.quando), 4 * scala, false);
        const MatriceQr qr = matriceQr(dati.qr);
        if (qr.lato > 0) {
            y += 3 * mm;
            // Whole device pixels per module, so every module prints alike; a quiet zone of four
            // modules is left white around it.
            const double modulo = std::floor(LatoQrMm(carta) * mm / (qr.lato + 8));
            const double x0 = (carta * mm - modulo * qr.lato) / 2;
            const double y0 = y + 4 * modulo;
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            for (int r = 0; r < qr.lato; ++r)
                for (int c = 0; c < qr.lato; ++c)
                    if (qr.scuro(c, r))
                        p.drawRect(QRectF(x0 + c * modulo, y0 + r * modulo, modulo, modulo));
            p.setPen(Qt::black);
            p.setBrush(Qt::NoBrush);
            y = y0 + (qr.lato + 4) * modulo;
            riga(QStringLiteral("Segua il suo turno sul telefono"), 3.5 * scala, false);
        }
    }
    return pdf;
}

QByteArray escPosBiglietto(const DatiBiglietto& dati, int carta) {
    const int colonne = carta == 58 ? 32 : 48;
    QByteArray b;
    b += "\x1b@";     // ESC @: initialise
    b += "\x1bt\x13"; // ESC t 19: code page 858
    b += "\x1b"
         "a\x01"; // ESC a 1: centred
    const auto riga = [&](const QString& testo) {
        if (!testo.isEmpty())
            b += cp858(testo.left(colonne)) + '\n';
    };
    b += "\x1b"
         "E\x01"; // bold
    riga(dati.ufficio);
    b += QByteArray("\x1b"
                    "E\x00\n",
                    3);              // bold off, a blank line
    b += QByteArray("\x1d!\x77", 3); // GS ! 0x77: eight times wide and high
    b += QByteArray::number(dati.numero) + '\n';
    b += QByteArray("\x1d!\x11", 3); // twice wide and high
    riga(dati.servizio);
    b += QByteArray("\x1d!\x00", 3);
    b += '\n';
    riga(rigaDavanti(dati.davanti));
    riga(testoData(dati.quando));
    if (!dati.qr.isEmpty()) {
        b += '\n';
        b += escPosQr(dati.qr.toUtf8(), carta == 58 ? 5 : 6);
        riga(QStringLiteral("Segua il suo turno sul telefono"));
    }
    b += QByteArray("\x1d"
                    "V\x42\x03",
                    4); // GS V 66 3: feed three lines and cut, leaving a tab
    return b;
}

MatriceQr matriceQr(const QString& testo) {
    MatriceQr m;
    if (testo.isEmpty())
        return m;
    const QByteArray utf8 = testo.toUtf8();
    QRcode* q = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!q)
        return m;
    m.lato = q->width;
    m.moduli.resize(size_t(q->width) * size_t(q->width));
    for (size_t i = 0; i < m.moduli.size(); ++i)
        m.moduli[i] = (q->data[i] & 1) != 0;
    QRcode_free(q);
    return m;
}

QByteArray escPosQr(const QByteArray& testo, int modulo) {
    const auto comando = [](QByteArray corpo) {
        // GS ( k pL pH, then cn = 49 (QR code) and the function's bytes.
        const int n = int(corpo.size()) + 1;
        QByteArray c("\x1d(k", 3);
        c += char(n & 0xff);
        c += char((n >> 8) & 0xff);
        c += '1';
        return c + corpo;
    };
    QByteArray b;
    b += "\x1b"
         "a\x01";                                    // centred
    b += comando(QByteArray("A\x32\x00", 3));        // fn 65: model 2
    b += comando(QByteArray("C", 1) + char(modulo)); // fn 67: module size in dots
    b += comando(QByteArray("E1", 2));               // fn 69: error correction M
    b += comando(QByteArray("P0", 2) + testo);       // fn 80: store the data
    b += comando(QByteArray("Q0", 2));               // fn 81: print it
    b += '\n';
    return b;
}

Stampante::Stampante(const ImpostazioniTotem& impostazioni)
    : m_modo(impostazioni.modo), m_coda(impostazioni.stampante),
      m_dispositivo(impostazioni.dispositivo), m_carta(impostazioni.carta) {}

QString Stampante::problema() const {
    if (m_modo == ModoStampa::EscPosFile) {
        if (m_dispositivo.isEmpty())
            return QStringLiteral("Dispositivo della stampante non impostato");
        QFile f(m_dispositivo);
        if (!f.exists())
            return QStringLiteral("Dispositivo %1 non trovato").arg(m_dispositivo);
        return {};
    }
    if (m_coda.isEmpty())
        return QStringLiteral("Stampante non impostata");
    const QByteArray nome = m_coda.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nome.constData(), nullptr);
    if (!dest) {
        const QString motivo = QString::fromUtf8(cupsLastErrorString());
        return QStringLiteral("Stampante %1 non trovata (%2)").arg(m_coda, motivo);
    }
    const auto opzione = [&](const char* nomeOpzione) {
        return QString::fromUtf8(cupsGetOption(nomeOpzione, dest->num_options, dest->options));
    };
    const QString stato = opzione("printer-state");
    const QString motivi = opzione("printer-state-reasons");
    const QString accetta = opzione("printer-is-accepting-jobs");
    cupsFreeDests(1, dest);
    if (motivi.contains(QStringLiteral("media-empty")) ||
        motivi.contains(QStringLiteral("media-needed")))
        return QStringLiteral("Stampante %1 senza carta").arg(m_coda);
    if (motivi.contains(QStringLiteral("offline")))
        return QStringLiteral("Stampante %1 non in linea").arg(m_coda);
    if (stato == QStringLiteral("5"))
        return QStringLiteral("Stampante %1 ferma (%2)").arg(m_coda, motivi);
    if (accetta == QStringLiteral("false"))
        return QStringLiteral("Stampante %1 non accetta lavori").arg(m_coda);
    return {};
}

EsitoStampa Stampante::inviaCups(const QByteArray& dati, const char* formato, qint32 numero,
                                 bool conQr) const {
    EsitoStampa e;
    const QByteArray nome = m_coda.toUtf8();
    cups_option_t* opzioni = nullptr;
    int quante = 0;
    const QByteArray media =
        QStringLiteral("Custom.%1x%2mm").arg(m_carta).arg(altezzaMm(m_carta, conQr)).toLatin1();
    if (formato == QByteArrayView(CUPS_FORMAT_PDF))
        quante = cupsAddOption("media", media.constData(), quante, &opzioni);
    const QByteArray titolo = "Biglietto " + QByteArray::number(numero);
    const int lavoro =
        cupsCreateJob(CUPS_HTTP_DEFAULT, nome.constData(), titolo.constData(), quante, opzioni);
    if (lavoro <= 0) {
        e.errore = QString::fromUtf8(cupsLastErrorString());
        cupsFreeOptions(quante, opzioni);
        return e;
    }
    http_status_t stato = cupsStartDocument(CUPS_HTTP_DEFAULT, nome.constData(), lavoro,
                                            titolo.constData(), formato, 1);
    if (stato == HTTP_STATUS_CONTINUE)
        stato = cupsWriteRequestData(CUPS_HTTP_DEFAULT, dati.constData(),
                                     static_cast<size_t>(dati.size()));
    const ipp_status_t fine = cupsFinishDocument(CUPS_HTTP_DEFAULT, nome.constData());
    cupsFreeOptions(quante, opzioni);
    if (stato != HTTP_STATUS_CONTINUE || fine > IPP_STATUS_OK_CONFLICTING) {
        e.errore = QString::fromUtf8(cupsLastErrorString());
        cupsCancelJob(nome.constData(), lavoro);
        return e;
    }
    e.riuscita = true;
    e.lavoro = lavoro;
    return e;
}

EsitoStampa Stampante::stampa(const DatiBiglietto& dati, QDeadlineTimer scadenza) const {
    const QString motivo = problema();
    if (!motivo.isEmpty())
        return {false, 0, motivo};
    switch (m_modo) {
    case ModoStampa::Cups:
        return inviaCups(pdfBiglietto(dati, m_carta), CUPS_FORMAT_PDF, dati.numero,
                         !dati.qr.isEmpty());
    case ModoStampa::EscPosCups:
        return inviaCups(escPosBiglietto(dati, m_carta), CUPS_FORMAT_RAW, dati.numero, false);
    case ModoStampa::EscPosFile: {
        EsitoStampa e;
        e.errore = scriviDispositivo(m_dispositivo, escPosBiglietto(dati, m_carta), scadenza);
        e.riuscita = e.errore.isEmpty();
        return e;
    }
    }
    return {};
}

} // namespace qvr::totem
