#pragma once
// Keeping a window above all others.

class QWidget;

namespace qvr {

// flag == -1 (the exact true value): the window stays above all other windows; any other value:
// normal stacking. The window is never moved or resized, and a shown window stays shown.
// Returns nonzero when the window was put on top, 0 otherwise.
int PrimoPiano(QWidget* finestra, int flag);

} // namespace qvr
