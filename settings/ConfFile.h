#pragma once

// The settings file read whole, and only when it is a regular file of a sane
// size: a fifo would block the start for ever and a huge file hold it up,
// and neither holds settings. A file that is there but cannot be read is an
// error the operator must see, never a silent switch to the defaults.

#include <QByteArray>
#include <QString>

namespace settings {

// Larger than any real settings file by far.
inline constexpr qint64 confFileMaxBytes = qint64(1024) * 1024;

struct ConfFileRead {
    enum class Status { Read, Missing, Unreadable };
    Status status = Status::Missing;
    QByteArray bytes;
    // For Unreadable: the file and why ("conf.ini: Permission denied").
    QString reason;
};

// Never blocks: a fifo or a device is refused before anything is read from it.
ConfFileRead readConfFile(const QString& path);

} // namespace settings
