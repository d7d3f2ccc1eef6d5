#pragma once

// The folder tkrecord works in: conf.ini is read there and the recordings
// are written there, by names without a directory, as the program does.

#include <QString>

namespace tkrecord {

// Makes dir (or, when empty, the working directory) the working directory
// and checks that a file can be created in it. Returns the message for the
// user on failure, an empty text on success.
QString enterWorkFolder(const QString& dir);

} // namespace tkrecord
