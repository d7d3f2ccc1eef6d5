#include "WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>

namespace tkrecord {

QString enterWorkFolder(const QString& dir, bool writing) {
    if (!dir.isEmpty()) {
        const QFileInfo info(dir);
        if (!info.exists())
            return QStringLiteral("folder %1 does not exist").arg(dir);
        if (!info.isDir())
            return QStringLiteral("%1 is not a folder").arg(dir);
        if (!QDir::setCurrent(dir))
            return QStringLiteral("cannot enter folder %1").arg(dir);
    }
    if (!writing)
        return {};
    // A file really created: permission bits say nothing about a read-only
    // mount, a full disk or a process running as root.
    QTemporaryFile probe(QStringLiteral(".tkrecord-probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot write in folder %1: %2")
            .arg(QDir::currentPath(), probe.errorString());
    return {};
}

WorkFolderWatch::WorkFolderWatch(const QString& subFolder)
    : m_subFolder(subFolder),
      m_path(subFolder.isEmpty() ? QDir::currentPath()
                                 : QDir::current().absoluteFilePath(subFolder)) {
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0) {
        m_device = st.st_dev;
        m_inode = st.st_ino;
    }
}

QString WorkFolderWatch::lost() const {
    struct stat here {};
    // A removed folder keeps no link to any name.
    if (m_subFolder.isEmpty() && (::stat(".", &here) != 0 || here.st_nlink == 0))
        return QStringLiteral("the folder %1 was removed").arg(m_path);
    struct stat named {};
    if (::stat(QFile::encodeName(m_path).constData(), &named) != 0 || named.st_dev != m_device ||
        named.st_ino != m_inode)
        return QStringLiteral("the folder %1 was removed or replaced").arg(m_path);
    return {};
}

} // namespace tkrecord
