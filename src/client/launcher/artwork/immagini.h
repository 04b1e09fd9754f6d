#pragma once
// The program's own pictures, painted in code: the ticket of the launcher and the settings
// window, and the background of the message window.

#include <QPixmap>
#include <QSize>

namespace qvr::immagini {

// A stylised queue ticket with its number, on a transparent background.
QPixmap biglietto(const QSize& dimensione, int numero = 37);

// A quiet background for the message window: a soft vertical gradient with a faint ticket
// outline in the lower left corner.
QPixmap sfondoMessaggio(const QSize& dimensione);

} // namespace qvr::immagini
