#pragma once

// Reading a file that someone other than this program may have put there
// (a seal, a block list, a trail, a recording): only a regular file, opened
// without blocking, so that a fifo or a device in its place is refused at
// once rather than waited on for ever, and never more than a given number of
// bytes, so that a file the size of a disk is not read into memory.

#include <QByteArray>
#include <QString>

#include <limits>

namespace sealing {

struct RegularFile {
    enum class Problem { None, Absent, NotRegular, Unreadable };
    Problem problem = Problem::Absent;
    QByteArray bytes;  // at most the limit asked for
    bool more = false; // the file held more than that

    bool ok() const { return problem == Problem::None; }
};

RegularFile readRegularFile(const QString& path, qint64 limit = std::numeric_limits<qint64>::max());

// True when path is there and is something other than a regular file (a
// fifo, a device, a folder, a socket).
bool existsButIsNotRegular(const QString& path);

} // namespace sealing
