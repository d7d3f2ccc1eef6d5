#include "RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sealing {

#ifndef Q_OS_WIN

RegularFile readRegularFile(const QString& path, qint64 limit) {
    RegularFile read;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        read.problem =
            errno == ENOENT ? RegularFile::Problem::Absent : RegularFile::Problem::Unreadable;
        return read;
    }
    struct ::stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        read.problem = RegularFile::Problem::NotRegular;
        ::close(fd);
        return read;
    }
    read.problem = RegularFile::Problem::None;
    // Sized from what the file says it holds, within the limit; a file that
    // grows meanwhile is read on in steps.
    constexpr qint64 step = qint64(1) << 20;
    const qint64 expected = std::min<qint64>(qint64(status.st_size), limit);
    try {
        read.bytes.reserve(qsizetype(std::min<qint64>(expected, 64 * step)));
        while (read.bytes.size() < limit) {
            const qsizetype at = read.bytes.size();
            const qint64 want = std::min<qint64>(std::max<qint64>(expected - at, step), limit - at);
            read.bytes.resize(at + qsizetype(want));
            const ssize_t got = ::read(fd, read.bytes.data() + at, std::size_t(want));
            if (got < 0 && errno == EINTR) {
                read.bytes.resize(at);
                continue;
            }
            read.bytes.resize(at + std::max<qsizetype>(qsizetype(got), 0));
            if (got < 0)
                read.problem = RegularFile::Problem::Unreadable;
            if (got <= 0)
                break;
        }
        if (read.ok() && read.bytes.size() >= limit) {
            char one = 0;
            read.more = ::read(fd, &one, 1) == 1;
        }
    } catch (const std::bad_alloc&) {
        read.bytes.clear();
        read.problem = RegularFile::Problem::Unreadable;
    }
    ::close(fd);
    return read;
}

bool existsButIsNotRegular(const QString& path) {
    struct ::stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode);
}

#else

RegularFile readRegularFile(const QString& path, qint64 limit) {
    RegularFile read;
    const QFileInfo info(path);
    if (!info.exists())
        return read;
    QFile file(path);
    if (!info.isFile() || file.isSequential()) {
        read.problem = RegularFile::Problem::NotRegular;
        return read;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        read.problem = RegularFile::Problem::Unreadable;
        return read;
    }
    read.problem = RegularFile::Problem::None;
    read.bytes = file.read(limit);
    read.more = !file.atEnd();
    return read;
}

bool existsButIsNotRegular(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

#endif

} // namespace sealing
