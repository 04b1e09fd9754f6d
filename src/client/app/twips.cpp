#include "app/twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace qvr {

namespace {
double dpi(bool orizzontale) {
    if (auto* schermo = QGuiApplication::primaryScreen())
        return orizzontale ? schermo->logicalDotsPerInchX() : schermo->logicalDotsPerInchY();
    return 96.0;
}
} // namespace

int twipsX(int twips) {
    return static_cast<int>(std::lround(twips * dpi(true) / 1440.0));
}
int twipsY(int twips) {
    return static_cast<int>(std::lround(twips * dpi(false) / 1440.0));
}

} // namespace qvr
