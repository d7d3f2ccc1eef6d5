#pragma once

// The [Events] section of conf.ini: the events the shop marks during a run,
// one per line ("Load in"), offered by "Mark event…" before any free text.
// Without the section there is a default list; an empty section offers free
// text only.

#include <QString>
#include <QStringList>

#include "Profile.h"

namespace settings {

inline constexpr int eventTextMax = 40;
inline constexpr int eventsMax = 20;

struct EventsRead {
    QStringList events;
    // The first bad line, named: `[Events] line 4 "Load in": listed already`;
    // the default list is then in force.
    QString error;
};

QStringList defaultEvents();

// Any bad line is an error, never skipped, as in [Controllers].
EventsRead readEventsSection(const ProfileText& file);

void keepEventsSection(const ProfileText& file);
// As loadSettings last read it.
const EventsRead& configuredEvents();

} // namespace settings
