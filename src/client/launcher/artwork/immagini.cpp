#include "launcher/artwork/immagini.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qvr::immagini {

namespace {

// The outline of a ticket: a rounded rectangle with a half-circle notch on each long side.
QPainterPath sagomaBiglietto(const QRectF& r) {
    const qreal raggio = r.height() * 0.12;
    const qreal tacca = r.height() * 0.14;
    QPainterPath corpo;
    corpo.addRoundedRect(r, raggio, raggio);
    QPainterPath tacche;
    const qreal xTacca = r.left() + r.width() * 0.30;
    tacche.addEllipse(QPointF(xTacca, r.top()), tacca, tacca);
    tacche.addEllipse(QPointF(xTacca, r.bottom()), tacca, tacca);
    return corpo.subtracted(tacche);
}

} // namespace

QPixmap biglietto(const QSize& dimensione, int numero) {
    QPixmap pixmap(dimensione);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal margine = qMax<qreal>(2.0, dimensione.width() * 0.05);
    const QRectF area = QRectF(QPointF(0, 0), QSizeF(dimensione))
                            .adjusted(margine, margine * 2, -margine, -margine * 2);

    // Shadow, then the ticket.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawPath(sagomaBiglietto(area.translated(margine * 0.5, margine * 0.5)));

    QLinearGradient colore(area.topLeft(), area.bottomRight());
    colore.setColorAt(0.0, QColor(255, 214, 102));
    colore.setColorAt(1.0, QColor(242, 153, 74));
    p.setBrush(colore);
    p.setPen(QPen(QColor(150, 84, 24), 1.5));
    p.drawPath(sagomaBiglietto(area));

    // Perforation between the stub and the body.
    const qreal xTacca = area.left() + area.width() * 0.30;
    QPen perforazione(QColor(150, 84, 24), 1.2, Qt::DashLine);
    p.setPen(perforazione);
    p.drawLine(QPointF(xTacca, area.top() + area.height() * 0.18),
               QPointF(xTacca, area.bottom() - area.height() * 0.18));

    // The stub: three short lines, like printed text.
    p.setPen(QPen(QColor(150, 84, 24), qMax<qreal>(1.0, area.height() * 0.05), Qt::SolidLine,
                  Qt::RoundCap));
    const qreal xInizio = area.left() + area.width() * 0.07;
    const qreal xFine = xTacca - area.width() * 0.07;
    for (int i = 1; i <= 3; ++i) {
        const qreal y = area.top() + area.height() * (0.25 * i);
        p.drawLine(QPointF(xInizio, y), QPointF(xFine - (i == 2 ? area.width() * 0.05 : 0), y));
    }

    // The number on the body.
    QFont carattere;
    carattere.setBold(true);
    carattere.setPixelSize(qMax(6, static_cast<int>(area.height() * 0.55)));
    p.setFont(carattere);
    p.setPen(QColor(90, 40, 8));
    const QRectF corpo(xTacca, area.top(), area.right() - xTacca, area.height());
    p.drawText(corpo, Qt::AlignCenter, QString::number(numero));
    return pixmap;
}

QPixmap sfondoMessaggio(const QSize& dimensione) {
    QPixmap pixmap(dimensione);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fondo(0, 0, 0, dimensione.height());
    fondo.setColorAt(0.0, QColor(250, 251, 253));
    fondo.setColorAt(1.0, QColor(221, 230, 242));
    p.fillRect(pixmap.rect(), fondo);

    // Lower left, where the buttons never are, kept inside the window.
    const qreal altezza = dimensione.height() * 0.30;
    const QRectF area(altezza * 0.4, dimensione.height() - altezza * 1.3, altezza * 2.2, altezza);
    p.setPen(QPen(QColor(205, 216, 232), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sagomaBiglietto(area));
    return pixmap;
}

} // namespace qvr::immagini
