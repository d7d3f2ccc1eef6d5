#include "ProcessProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/ioctl.h>

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // /proc files report no size: read line by line until the one wanted.
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:")) {
            const QList<QByteArray> words = line.simplified().split(' ');
            bool ok = false;
            const qint64 kib = words.size() >= 2 ? words[1].toLongLong(&ok) : -1;
            return ok ? kib : -1;
        }
    }
    return -1;
}

int openDescriptorCount() {
    // QDir holds one descriptor of its own while it lists the folder.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size()) -
           1;
}

int descriptorOnDevice(const QString& path) {
    const QString device = QFileInfo(path).canonicalFilePath();
    if (device.isEmpty())
        return -1;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::Files | QDir::System, QDir::Name)) {
        if (QFileInfo(fds.filePath(name)).symLinkTarget() == device)
            return name.toInt();
    }
    return -1;
}

int pendingInputBytes(int fd) {
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

QString serialLockFolder() {
    // The folders QSerialPort tries, in its order (qserialport_unix.cpp).
    static const char* const folders[] = {
        "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
        "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock",
    };
    for (const char* folder : folders) {
        const QFileInfo info{QString::fromLatin1(folder)};
        if (info.isDir() && info.isReadable() && info.isWritable())
            return QLatin1String(folder);
    }
    return {};
}

QStringList serialLockFiles() {
    const QString folder = serialLockFolder();
    if (folder.isEmpty())
        return {};
    return QDir(folder).entryList({QStringLiteral("LCK..*")}, QDir::Files | QDir::Hidden,
                                  QDir::Name);
}

QString serialLockFileFor(const QString& portPath) {
    // The program opens the device a link leads to, and Qt names the lock
    // after that path less its "/dev/".
    QString name = QFileInfo(portPath).canonicalFilePath();
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return serialLockFolder() + QStringLiteral("/LCK..") + name;
}
