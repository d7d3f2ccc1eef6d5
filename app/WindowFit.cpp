#include "WindowFit.h"

#include <algorithm>

namespace app {

namespace {

const QSize designed(1090, 653);
// Right of the graph's edge (104 + 873) the panel shows nothing.
constexpr int leastWidth = 104 + 873 + 8;
// Under the recording line (560 + 25), beside the version label.
constexpr int stripTop = 596;
constexpr int stripMargin = 12;

} // namespace

WindowFit fitWindow(QSize room, int stripWanted, int stripLeast) {
    WindowFit fit;
    fit.window = QSize(std::clamp(room.width(), leastWidth, designed.width()), designed.height());
    if (stripWanted <= 0)
        return fit;
    const int least = stripTop + std::min(stripLeast, stripWanted) + stripMargin;
    const int wanted = stripTop + stripWanted + stripMargin;
    fit.window.setHeight(
        std::max(designed.height(), std::min(wanted, std::max(room.height(), least))));
    fit.stripTop = stripTop;
    fit.stripHeight = std::min(stripWanted, fit.window.height() - stripTop - stripMargin);
    return fit;
}

} // namespace app
