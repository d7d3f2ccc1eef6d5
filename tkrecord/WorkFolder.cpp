#include "WorkFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace tkrecord {

QString enterWorkFolder(const QString& dir) {
    if (!dir.isEmpty()) {
        const QFileInfo info(dir);
        if (!info.exists())
            return QStringLiteral("folder %1 does not exist").arg(dir);
        if (!info.isDir())
            return QStringLiteral("%1 is not a folder").arg(dir);
        if (!QDir::setCurrent(dir))
            return QStringLiteral("cannot enter folder %1").arg(dir);
    }
    // A file really created: permission bits say nothing about a read-only
    // mount, a full disk or a process running as root.
    QTemporaryFile probe(QStringLiteral(".tkrecord-probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot write in folder %1: %2")
            .arg(QDir::currentPath(), probe.errorString());
    return {};
}

} // namespace tkrecord
