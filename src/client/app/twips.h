#pragma once
// Window sizes and positions are given in twips (1/1440 inch); this turns them into pixels
// through the logical resolution of the primary screen (96 dpi when there is no screen).

#include <QPoint>
#include <QSize>

namespace qvr {

int twipsX(int twips);
int twipsY(int twips);
inline QSize twipsSize(int larghezza, int altezza) {
    return {twipsX(larghezza), twipsY(altezza)};
}

} // namespace qvr
