#pragma once

// tkview without a window, for scripts and scheduled jobs: reads the files of
// the command line and writes the report, the chart (PNG, SVG) and the
// spreadsheet file asked for.

#include <QString>

#include <functional>

#include "Options.h"

namespace tkview {

// Does what options ask (options.headless() must hold); complaints go to
// `say`, one line each. Returns exitDone, or exitFileFailed when a file or a
// line could not be read, files overlap or an output could not be written
// (the outputs are still made from what was read), or when the range holds no
// record.
int exportWithoutWindow(const Options& options, const std::function<void(const QString&)>& say);

// The same for --compare: the comparison's report and picture. exitFileFailed
// also when a run was left out or could not be aligned as asked.
int compareWithoutWindow(const Options& options, const std::function<void(const QString&)>& say);

} // namespace tkview
