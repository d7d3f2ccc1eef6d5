#pragma once

// What a shop turns on for the window in conf.ini; a plain file turns on
// nothing, and the window then does what it always did:
//   [Alarms]     any such section turns the window's alarms on (Link lost
//                and No measurement then by default);
//   [Records]    Seal=1 keeps the window's audit trail (audit.log), seals
//                its recordings and makes each finished one read-only;
//   [Recording]  AskForRun=1 asks for the run's batch, part and customer
//                before "Start recording" starts; otherwise it starts at once.
// The recorder keeps its own defaults and reads none of this.

#include <QStringList>

#include "Profile.h"

namespace settings {

struct WindowChoices {
    bool alarms = false;
    bool seal = false;
    bool askForRun = false;
    // One line per bad value, naming it and its line: "conf.ini line 4: Seal
    // \"yes\" is 0 or 1". Such a choice stays off.
    QStringList refused;
};

WindowChoices readWindowChoices(const ProfileText& file);

// Takes what readWindowChoices makes of file for configuredWindowChoices.
void keepWindowChoices(const ProfileText& file);
// As loadSettings last read it.
const WindowChoices& configuredWindowChoices();

} // namespace settings
