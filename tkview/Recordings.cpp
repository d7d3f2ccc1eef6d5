#include "Recordings.h"

namespace tkview {

std::unique_ptr<Recordings> openRecordings(const QStringList& paths) {
    auto open = std::make_unique<Recordings>();
    RecorderOffsets offsets;
    const QTimeZone viewer = QTimeZone::systemTimeZone();
    ReadResult read = readRecordings(
        paths, viewer, [&](const QString& path) { return offsets.zoneOf(path, viewer); });
    open->paths = paths;
    open->timeline = std::move(read.timeline);
    open->errors = std::move(read.errors);
    open->warnings = std::move(read.warnings);
    open->levels = DetailLevels(open->timeline);
    open->trail = readRunTrail(open->timeline);
    return open;
}

} // namespace tkview
