#pragma once

// One recorder per folder: two writing the same second's file would write
// every time stamp twice into it. A lock file in the folder is held while
// recording; one left by a recorder that died (its PID no longer running)
// is taken over, as the serial port's lock is. Only a lock naming a running
// recorder holds the folder: an empty file, a symlink or a file that is no
// lock is replaced, the symlink never followed.

#include <QString>

#include <memory>

class QLockFile;

namespace recording {

// The lock file's name, in the folder recorded.
inline constexpr char folderLockName[] = ".recording.lock";

class FolderLock {
public:
    // The lock of folder (empty: the working directory); nothing is taken yet.
    explicit FolderLock(const QString& folder = QString());
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    enum class Outcome {
        Taken,       // or held already
        HeldByOther, // a live recorder holds it
        Unavailable, // the lock file cannot be written (a full or read-only medium)
    };
    Outcome take();
    void release();
    bool held() const;
    // Why take() failed, for the operator: who holds the folder, by PID.
    QString refusal() const { return m_refusal; }

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_refusal;
};

} // namespace recording
