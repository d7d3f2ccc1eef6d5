#include "EventsSection.h"

namespace settings {

namespace {

constexpr char eventsSection[] = "Events";

// Program-wide, as the settings they come with are.
EventsRead kept{defaultEvents(), {}};

QString lineError(int number, const QString& line, const QString& why) {
    return QStringLiteral("[Events] line %1 \"%2\": %3").arg(number).arg(line, why);
}

} // namespace

QStringList defaultEvents() {
    return {QStringLiteral("Load in"), QStringLiteral("Door open"), QStringLiteral("Quench"),
            QStringLiteral("Load out")};
}

EventsRead readEventsSection(const ProfileText& file) {
    EventsRead read{defaultEvents(), {}};
    if (!file.hasSection(QLatin1String(eventsSection)))
        return read;
    QStringList found;
    for (const auto& [number, line] : file.sectionLines(QLatin1String(eventsSection))) {
        QString why;
        if (line.size() > eventTextMax)
            why = QStringLiteral("an event is at most %1 characters").arg(eventTextMax);
        else if (found.contains(line, Qt::CaseInsensitive))
            why = QStringLiteral("listed already");
        else if (found.size() == eventsMax)
            why = QStringLiteral("at most %1 events").arg(eventsMax);
        if (!why.isEmpty()) {
            read.error = lineError(number, line, why);
            return read;
        }
        found.append(line);
    }
    read.events = found;
    return read;
}

void keepEventsSection(const ProfileText& file) {
    kept = readEventsSection(file);
}

const EventsRead& configuredEvents() {
    return kept;
}

} // namespace settings
