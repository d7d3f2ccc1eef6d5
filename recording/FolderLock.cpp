#include "FolderLock.h"

#include <QDir>
#include <QLockFile>

namespace recording {

FolderLock::FolderLock(const QString& folder)
    : m_lock(std::make_unique<QLockFile>(
          QDir(folder.isEmpty() ? QDir::currentPath() : folder).absoluteFilePath(folderLockName))) {
    // Stale only when its process is gone, never by age: a recording lasts weeks.
    m_lock->setStaleLockTime(0);
}

FolderLock::~FolderLock() = default;

FolderLock::Outcome FolderLock::take() {
    if (m_lock->isLocked())
        return Outcome::Taken;
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
