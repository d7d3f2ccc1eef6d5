#include "SerialLockHolder.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tklink {

qint64 serialLockHolder(const QString& devicePath) {
#ifdef Q_OS_WIN
    Q_UNUSED(devicePath);
    return 0;
#else
    // The folders and the name as qserialport_unix.cpp makes them.
    static const char* const folders[] = {
        "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
        "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock",
    };
    QString name = QFileInfo(devicePath).canonicalFilePath();
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : folders) {
        const QFileInfo info{QString::fromLatin1(folder)};
        if (!info.isDir() || !info.isReadable() || !info.isWritable())
            continue;
        const QByteArray path =
            QFile::encodeName(info.filePath() + QStringLiteral("/LCK..") + name);
        // Not blocking on a fifo someone put in its place in a shared /tmp.
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return 0;
        struct stat status {};
        char text[32] = {};
        ssize_t n = 0;
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
            n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        // QLockFile writes the PID on the first line.
        const QByteArray first = QByteArray(text, n > 0 ? n : 0).split('\n').value(0).trimmed();
        bool ok = false;
        const qint64 pid = first.toLongLong(&ok);
        return ok && pid > 0 ? pid : 0;
    }
    return 0;
#endif
}

QString heldByText(qint64 pid) {
    return pid > 0 ? QStringLiteral("held by another program (PID %1)").arg(pid)
                   : QStringLiteral("held by another program");
}

} // namespace tklink
