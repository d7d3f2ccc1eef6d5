#include "RunTrail.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <utility>

#include "AuditTrail.h"
#include "Timeline.h"
#include "Verification.h"

namespace tkview {

namespace {

bool marked(sealing::EventKind kind) {
    using sealing::EventKind;
    return kind == EventKind::Mark || kind == EventKind::AlarmRaised ||
           kind == EventKind::AlarmAcknowledged || kind == EventKind::AlarmCleared ||
           kind == EventKind::SetpointWrite;
}

QString after(const QString& text, QLatin1String word) {
    return text.startsWith(word) ? text.mid(word.size()) : text;
}

} // namespace

RunTrail runTrailOf(const QList<sealing::TrailFile>& trails, const QString& controller,
                    const QStringList& fileNames, std::int64_t fromMs, std::int64_t toMs) {
    RunTrail trail;
    for (const sealing::TrailFile& file : trails) {
        for (const QByteArray& line : file.bytes.split('\n')) {
            const std::optional<sealing::TrailEntry> entry = sealing::parseTrailLine(line);
            if (!entry || !entry->time.isValid())
                continue;
            const sealing::NamedEvent named = sealing::splitController(entry->event);
            // On a bus, the program's own entries (no name) are everyone's.
            if (!controller.isEmpty() && !named.controller.isEmpty() &&
                named.controller != controller)
                continue;
            const std::int64_t at = entry->time.toMSecsSinceEpoch();
            if (named.kind == sealing::EventKind::Run) {
                // tkrecord names a bus controller's file by its sub-folder.
                const std::optional<sealing::RunEntry> run = sealing::parseRunEvent(named.event);
                if (!run)
                    continue;
                const QString owner = !named.controller.isEmpty() ? named.controller
                                      : run->fileName.contains(QLatin1Char('/'))
                                          ? run->fileName.section(QLatin1Char('/'), -2, -2)
                                          : QString();
                if (fileNames.contains(QFileInfo(run->fileName).fileName()) &&
                    (controller.isEmpty() || owner == controller))
                    trail.runs.push_back({at, run->fileName, owner, run->run});
            } else if (marked(named.kind) && at >= fromMs && at <= toMs) {
                trail.markers.push_back({at, named.controller, named.event, named.kind});
            }
        }
    }
    // A trail kept aside and the one begun after it may hold the same entries.
    std::stable_sort(
        trail.markers.begin(), trail.markers.end(),
        [](const TrailMarker& a, const TrailMarker& b) { return a.timeMs < b.timeMs; });
    trail.markers.erase(std::unique(trail.markers.begin(), trail.markers.end()),
                        trail.markers.end());
    std::stable_sort(trail.runs.begin(), trail.runs.end(),
                     [](const TrailRun& a, const TrailRun& b) { return a.timeMs < b.timeMs; });
    return trail;
}

QStringList trailProblems(const QString& folder, const sealing::TrustedKeys& trusted,
                          QStringList* found) {
    QStringList problems;
    const QDir dir(folder);
    for (const sealing::TrailFile& trail : sealing::folderTrails(folder)) {
        const sealing::Verdict verdict = sealing::verifyFile(dir.filePath(trail.name), trusted);
        if (!verdict.verified())
            problems << trail.name + QLatin1Char(' ') + sealing::verdictText(verdict);
    }
    // Findings about a trail name it; the others are about recordings.
    static const QRegularExpression aboutATrail(QStringLiteral("^audit(-\\d+)?\\.log: "));
    for (const QString& finding : sealing::folderFindings(folder)) {
        if (aboutATrail.match(finding).hasMatch())
            problems << finding;
        else if (found)
            *found << finding;
    }
    return problems;
}

namespace {

bool hasTrail(const QString& folder) {
    return QFileInfo::exists(folder + QStringLiteral("/audit.log")) ||
           !QDir(folder).entryList({QStringLiteral("audit-*.log")}, QDir::Files).isEmpty();
}

// The folder of a file's trail and the controller the file belongs to: the
// trail beside it, or on a bus the one in the folder above, where the file's
// folder names the controller. None without a trail.
std::optional<std::pair<QString, QString>> trailOf(const QString& filePath,
                                                   std::map<QString, bool>& known) {
    const auto trailIn = [&](const QString& folder) {
        auto found = known.find(folder);
        if (found == known.end())
            found = known.emplace(folder, hasTrail(folder)).first;
        return found->second;
    };
    const QString folder = QFileInfo(filePath).absolutePath();
    if (trailIn(folder))
        return std::pair{folder, QString()};
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder && trailIn(parent))
        return std::pair{parent, QFileInfo(folder).fileName()};
    return std::nullopt;
}

// The key of a file in a trail: its name, after its controller's on a bus.
QString fileKey(const QString& controller, const QString& name) {
    return controller.isEmpty() ? name : controller + QLatin1Char('/') + name;
}

} // namespace

RunTrail readRunTrail(const Timeline& timeline) {
    return readRunTrail(timeline, sealing::TrustedKeys::system());
}

RunTrail readRunTrail(const Timeline& timeline, const sealing::TrustedKeys& trusted) {
    // Files by the folder of their trail and the controller they belong to.
    std::map<std::pair<QString, QString>, QStringList> groups;
    std::map<QString, bool> known;
    for (const SourceFile& file : timeline.files)
        if (const auto where = trailOf(file.path, known))
            groups[*where] << file.name;
    RunTrail all;
    std::map<QString, bool> taken; // by folder
    for (const auto& [where, names] : groups) {
        auto checked = taken.find(where.first);
        if (checked == taken.end()) {
            QStringList found;
            const QStringList problems = trailProblems(where.first, trusted, &found);
            all.notVerified << problems;
            all.recordingFindings << found;
            checked = taken.emplace(where.first, problems.isEmpty()).first;
        }
        if (!checked->second)
            continue;
        RunTrail part = runTrailOf(sealing::folderTrails(where.first), where.second, names,
                                   timeline.firstMs(), timeline.lastMs());
        all.markers.insert(all.markers.end(), part.markers.begin(), part.markers.end());
        all.runs.insert(all.runs.end(), part.runs.begin(), part.runs.end());
    }
    std::stable_sort(
        all.markers.begin(), all.markers.end(),
        [](const TrailMarker& a, const TrailMarker& b) { return a.timeMs < b.timeMs; });
    std::stable_sort(all.runs.begin(), all.runs.end(),
                     [](const TrailRun& a, const TrailRun& b) { return a.timeMs < b.timeMs; });
    return all;
}

RunTrail trailWithin(const RunTrail& trail, const Timeline& timeline, std::int64_t fromMs,
                     std::int64_t toMs) {
    RunTrail within;
    for (const TrailMarker& marker : trail.markers)
        if (marker.timeMs >= fromMs && marker.timeMs <= toMs)
            within.markers.push_back(marker);
    QStringList shown;
    for (const SourceFile& file : timeline.files)
        if (file.records > 0 && file.firstMs <= toMs && file.lastMs >= fromMs)
            shown << file.name;
    // Runs are in time order: an entry is superseded by a later one for the
    // same file that is still at or before the window's start.
    for (std::size_t i = 0; i < trail.runs.size(); ++i) {
        const TrailRun& run = trail.runs[i];
        const QString name = QFileInfo(run.fileName).fileName();
        if (!shown.contains(name) || run.timeMs > toMs)
            continue;
        const bool superseded = std::any_of(trail.runs.begin() + std::ptrdiff_t(i) + 1,
                                            trail.runs.end(), [&](const TrailRun& later) {
                                                return later.timeMs <= fromMs &&
                                                       later.controller == run.controller &&
                                                       QFileInfo(later.fileName).fileName() == name;
                                            });
        if (!superseded)
            within.runs.push_back(run);
    }
    return within;
}

QTimeZone RecorderOffsets::zoneOf(const QString& filePath, const QTimeZone& viewer) {
    std::map<QString, bool> known;
    const auto where = trailOf(filePath, known);
    if (!where)
        return viewer;
    auto folder = m_byFolder.find(where->first);
    if (folder == m_byFolder.end()) {
        std::map<QString, QDateTime> starts;
        for (const sealing::TrailFile& file : sealing::folderTrails(where->first)) {
            for (const QByteArray& line : file.bytes.split('\n')) {
                const std::optional<sealing::TrailEntry> entry = sealing::parseTrailLine(line);
                if (!entry || !entry->time.isValid())
                    continue;
                const sealing::NamedEvent named = sealing::splitController(entry->event);
                QString namedFile;
                if (named.kind == sealing::EventKind::RecordingStarted)
                    namedFile = after(named.event, QLatin1String("recording started: "));
                else if (named.kind == sealing::EventKind::Run)
                    if (const auto run = sealing::parseRunEvent(named.event))
                        namedFile = run->fileName;
                if (namedFile.isEmpty())
                    continue;
                // tkrecord names a bus controller's file by its sub-folder.
                const QString controller = !named.controller.isEmpty() ? named.controller
                                           : namedFile.contains(QLatin1Char('/'))
                                               ? namedFile.section(QLatin1Char('/'), -2, -2)
                                               : QString();
                starts.emplace(fileKey(controller, QFileInfo(namedFile).fileName()), entry->time);
            }
        }
        folder = m_byFolder.emplace(where->first, std::move(starts)).first;
    }
    const auto found = folder->second.find(fileKey(where->second, QFileInfo(filePath).fileName()));
    if (found == folder->second.end())
        return viewer;
    const int offset = found->second.offsetFromUtc();
    return viewer.offsetFromUtc(found->second) == offset ? viewer : QTimeZone(offset);
}

QString markerLabel(const TrailMarker& marker) {
    using sealing::EventKind;
    QString label;
    switch (marker.kind) {
    case EventKind::Mark: {
        const std::optional<sealing::Mark> mark = sealing::parseMark(marker.text);
        label = mark ? mark->text : marker.text;
        break;
    }
    case EventKind::AlarmRaised:
        label = QStringLiteral("alarm ") + after(marker.text, QLatin1String("alarm raised: "));
        break;
    case EventKind::AlarmAcknowledged:
        label = QStringLiteral("ack. ") + after(marker.text, QLatin1String("alarm acknowledged: "));
        break;
    case EventKind::AlarmCleared:
        label = QStringLiteral("cleared ") + after(marker.text, QLatin1String("alarm cleared: "));
        break;
    case EventKind::SetpointWrite: {
        // "150.0 → 200.0 °C": the reason and the answer are for the table, but
        // a write the controller did not take must not pass for a change.
        const QString change = after(marker.text, QLatin1String("setpoint write: "));
        const qsizetype unit = change.indexOf(QStringLiteral(" °C"));
        label = QStringLiteral("SP ") + (unit < 0 ? change : change.left(unit + 3));
        if (!marker.text.endsWith(QLatin1String(": accepted")))
            label += QStringLiteral(" (not taken)");
        break;
    }
    default:
        label = marker.text;
    }
    return marker.controller.isEmpty() ? label : marker.controller + QStringLiteral(": ") + label;
}

QString batchCaption(const sealing::RunIdentity& identity) {
    QStringList parts;
    if (!identity.batch.isEmpty())
        parts << identity.batch;
    if (!identity.part.isEmpty())
        parts << QStringLiteral("part ") + identity.part;
    return parts.join(QStringLiteral(", "));
}

} // namespace tkview
