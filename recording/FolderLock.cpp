#include "FolderLock.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recording {

FolderLock::FolderLock(const QString& folder)
    : m_lock(std::make_unique<QLockFile>(
          QDir(folder.isEmpty() ? QDir::currentPath() : folder).absoluteFilePath(folderLockName))) {
    // Stale only when its process is gone, never by age: a recording lasts weeks.
    m_lock->setStaleLockTime(0);
}

FolderLock::~FolderLock() = default;

namespace {

// What is left where the lock file should be that holds nothing: a symlink
// (never followed, whatever it points at), or anything but a file naming a
// PID, a program and a host, as a power cut leaves an empty one. A lock
// naming them is left for QLockFile to judge, which takes it over when that
// PID does not run the program named.
bool isJunk(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP; // a symlink; anything else is for tryLock to tell
    struct stat st {};
    QByteArray text(256, '\0');
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t got = regular ? ::read(fd, text.data(), std::size_t(text.size())) : 0;
    ::close(fd);
    if (!regular)
        return true;
    const QList<QByteArray> lines = text.left(std::max<ssize_t>(got, 0)).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).toLongLong(&ok);
    return lines.size() < 3 || !ok || pid <= 0 || lines.value(1).isEmpty();
}

} // namespace

FolderLock::Outcome FolderLock::take() {
    if (m_lock->isLocked())
        return Outcome::Taken;
    // Removing a symlink removes the link, not what it points at.
    if (isJunk(m_lock->fileName()))
        QFile::remove(m_lock->fileName());
    if (m_lock->tryLock(0)) {
        m_refusal.clear();
        return Outcome::Taken;
    }
    const QString file = QDir::toNativeSeparators(m_lock->fileName());
    qint64 pid = 0;
    QString host;
    QString program;
    if (m_lock->error() != QLockFile::LockFailedError) {
        m_refusal = QStringLiteral("cannot write the lock file %1").arg(file);
        return Outcome::Unavailable;
    }
    if (m_lock->getLockInfo(&pid, &host, &program))
        m_refusal = QStringLiteral("this folder is being recorded by %1 (PID %2, lock file %3)")
                        .arg(program.isEmpty() ? QStringLiteral("another program") : program)
                        .arg(pid)
                        .arg(file);
    else // removed or rewritten in between
        m_refusal =
            QStringLiteral("this folder is being recorded by another program (lock file %1)")
                .arg(file);
    return Outcome::HeldByOther;
}

void FolderLock::release() {
    m_lock->unlock();
}

bool FolderLock::held() const {
    return m_lock->isLocked();
}

} // namespace recording
