#pragma once

// What reading left out or found odd, as lines for standard error or a
// message box: never more than a screenful for each kind, however many files.

#include <QStringList>

#include "Timeline.h"

namespace tkview {

// Lines listed of each kind before a count of them all.
inline constexpr int listedProblems = 20;

// Files refused, lines skipped, files that overlap and warnings, the first
// listedProblems of each followed by a count of them all when there are more.
QStringList readingProblems(const QStringList& errors, const QStringList& warnings,
                            const Timeline& timeline);

// Whether reading left something out: a file, a line or an overlap.
bool somethingLeftOut(const QStringList& errors, const Timeline& timeline);

} // namespace tkview
