#pragma once

// What reaches the running recorder from the command line: a marked event
// or a new run's fields, through its client socket in the working folder
// (the folder's permissions and lock guard it, as they guard the records),
// as a client of the protocol in ClientProtocol.h. The recorder takes the
// sender's user from the socket's peer credentials, never from what the
// sender says.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

#include "RunEvent.h"

namespace tkrecord {

// The socket's name in the working folder.
inline constexpr char commandSocketName[] = ".tkrecord.sock";

struct RecorderCommand {
    std::optional<QString> mark; // else a new run
    sealing::RunIdentity run;    // its operator is the sender, not this
    QString controller;          // empty: every controller of the recorder

    bool operator==(const RecorderCommand&) const = default;
};

// What a command wrote into the trail, or why it wrote nothing.
struct CommandOutcome {
    QString written;
    QString error;
};

// Sends command to the recorder in the working folder; what it wrote into
// the trail, or why it did not (none running there included).
CommandOutcome sendCommand(const RecorderCommand& command, int timeoutMs = 5000);

} // namespace tkrecord
