#pragma once

// The main window's size on the screen it is given: the panel as designed
// (1090 × 653) where the screen has room for it, narrower down to the graph's
// right edge where it has not, and a bus's strip of controllers under the
// status lines, as tall as its rows need or as the screen allows, scrolling
// the rest. Pure.

#include <QSize>

namespace app {

struct WindowFit {
    QSize window;
    int stripTop = 0;
    int stripHeight = 0;
};

// room: the client area the screen leaves; stripWanted: the strip's height
// with every row in sight, 0 without a strip; stripLeast: its height with one
// row in sight.
WindowFit fitWindow(QSize room, int stripWanted, int stripLeast);

} // namespace app
