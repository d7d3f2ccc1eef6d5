#pragma once

// tkview without a window, for scripts and scheduled jobs: reads the files of
// the command line and writes the report, the chart (PNG, SVG) and the
// spreadsheet file asked for.

#include <QString>

#include <functional>

#include "Options.h"

namespace tkview {

// Does what options ask (options.headless() must hold); complaints go to
// `say`, one line each. Returns exitDone, or exitFileFailed when a file could
// not be read or written (the others are still made from what was read).
int exportWithoutWindow(const Options& options, const std::function<void(const QString&)>& say);

} // namespace tkview
