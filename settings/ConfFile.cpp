#include "ConfFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace settings {

namespace {

ConfFileRead unreadable(const QString& path, const QString& why) {
    // The whole path: the operator must find the file, whatever folder the
    // program was started in.
    return {ConfFileRead::Status::Unreadable,
            {},
            QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()) + QStringLiteral(": ") +
                why};
}

QString tooLarge(qint64 size) {
    return QStringLiteral("larger than 1 MiB (%1 bytes), not a settings file").arg(size);
}

} // namespace

ConfFileRead readConfFile(const QString& path) {
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (info.isDir())
        return unreadable(path, QStringLiteral("a folder, not a file"));
    if (!info.isFile())
        return unreadable(path, QStringLiteral("not a regular file"));
    if (info.size() > confFileMaxBytes)
        return unreadable(path, tooLarge(info.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(path, file.errorString());
    return {ConfFileRead::Status::Read, file.read(confFileMaxBytes), {}};
#else
    // Non-blocking, so that opening a fifo returns at once; what was opened
    // is then checked, not the name, which another process may change.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return {};
        return unreadable(path, qt_error_string(errno));
    }
    struct stat info {};
    ConfFileRead result{ConfFileRead::Status::Read, {}, {}};
    if (::fstat(fd, &info) != 0)
        result = unreadable(path, qt_error_string(errno));
    else if (S_ISDIR(info.st_mode))
        result = unreadable(path, QStringLiteral("a folder, not a file"));
    else if (!S_ISREG(info.st_mode))
        result = unreadable(path, QStringLiteral("not a regular file"));
    else if (info.st_size > confFileMaxBytes)
        result = unreadable(path, tooLarge(info.st_size));
    while (result.status == ConfFileRead::Status::Read) {
        char chunk[16384];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result = unreadable(path, qt_error_string(errno));
        else if (n == 0)
            break;
        else if (result.bytes.size() + n > confFileMaxBytes) // grown since the check
            result = unreadable(path, tooLarge(result.bytes.size() + n));
        else
            result.bytes.append(chunk, n);
    }
    ::close(fd);
    return result;
#endif
}

} // namespace settings
