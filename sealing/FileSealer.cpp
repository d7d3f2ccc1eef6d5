#include "FileSealer.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringList>

#include "AuditTrail.h"
#include "RecordFile.h"
#include "RecorderState.h"
#include "RegularFile.h"
#include "SealText.h"
#include "Verification.h"

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

Q_LOGGING_CATEGORY(lcSealing, "tk.sealing", QtWarningMsg)

namespace sealing {

namespace {

// Why the last seal could not be written, for the one warning of an episode.
QString& sealProblem() {
    // cppcheck-suppress unassignedVariable ; written through the reference returned
    static QString problem;
    return problem;
}

} // namespace

#ifndef Q_OS_WIN
namespace {
// Makes path hold bytes through a rename; the new file's descriptor, open
// for writing, or -1.
int createReplacing(const QString& path, const QByteArray& bytes);
} // namespace
#endif

namespace {

// The hex hash of what hashing has taken so far; hashing goes on.
QString hashOf(const crypto_generichash_state& hashing) {
    crypto_generichash_state copy = hashing;
    QByteArray hash(crypto_generichash_BYTES, '\0');
    crypto_generichash_final(&copy, reinterpret_cast<unsigned char*>(hash.data()),
                             std::size_t(hash.size()));
    return QString::fromLatin1(hash.toHex());
}

} // namespace

QString lastSealProblem() {
    return sealProblem();
}

FileSealer::FileSealer(SealKey key, int headerLines, QString controller)
    : m_key(std::move(key)), m_headerLines(headerLines), m_controller(std::move(controller)) {}

FileSealer::~FileSealer() {
    const std::lock_guard lock(m_mutex);
    while (!m_files.empty())
        drop(QString(m_files.begin()->first)); // a copy: the key goes with its entry
}

void FileSealer::keepStateIn(std::shared_ptr<RecorderState> state) {
    const std::lock_guard lock(m_mutex);
    m_state = std::move(state);
}

bool FileSealer::appended(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                          bool adoptUnsealed) {
    // Committed even when the first seal failed: the bytes are written.
    const bool prepared = prepare(path, sizeBefore, bytes, adoptUnsealed);
    return commit(path, true) && prepared;
}

bool FileSealer::prepare(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                         bool adoptUnsealed) {
    const std::lock_guard lock(m_mutex);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    auto known = m_files.find(absolute);
    if (known != m_files.end() && known->second.foreign)
        return false;
    const bool follows =
        known != m_files.end() &&
        known->second.state.bytes + known->second.state.partial.size() == sizeBefore;
    if (!follows) {
        // The recorder's file is not what it wrote: it is not sealed on.
        if (known != m_files.end() && m_state) {
            known->second.foreign = true;
            return false;
        }
        if (known != m_files.end())
            drop(absolute);
        if (!resume(absolute, sizeBefore, adoptUnsealed))
            return false;
        known = m_files.find(absolute);
    }
    SealState landed = known->second.state;
    addBytes(landed, bytes);
    // Remembered even when the seal could not be written: what lands is
    // this sealer's own, and the next seal covers it.
    const bool sealed = writeSeal(absolute, known->second, &landed);
    if (m_state) {
        crypto_generichash_state after = known->second.bytesHash;
        crypto_generichash_update(&after, reinterpret_cast<const unsigned char*>(bytes.constData()),
                                  quint64(bytes.size()));
        m_state->setLanding(
            known->second.name, known->second.state.bytes + known->second.state.partial.size(),
            hashOf(known->second.bytesHash), landed.bytes + landed.partial.size(), hashOf(after));
    }
    m_pending[absolute] = {std::move(landed), bytes};
    return sealed;
}

bool FileSealer::commit(const QString& path, bool written) {
    const std::lock_guard lock(m_mutex);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const auto pending = m_pending.find(absolute);
    const auto known = m_files.find(absolute);
    if (pending == m_pending.end() || known == m_files.end())
        return false;
    auto [landed, bytes] = std::move(pending->second);
    m_pending.erase(pending);
    Sealing& sealing = known->second;
    // A failed append was cut back: the seal's pending lines never match.
    if (!written) {
        noteFile(absolute, sealing);
        if (m_state) {
            const qint64 holds = sealing.state.bytes + sealing.state.partial.size();
            const QString hash = hashOf(sealing.bytesHash);
            m_state->setLanding(sealing.name, holds, hash, holds, hash);
        }
        return true;
    }
    sealing.state = std::move(landed);
    crypto_generichash_update(&sealing.bytesHash,
                              reinterpret_cast<const unsigned char*>(bytes.constData()),
                              quint64(bytes.size()));
    // The state's landing line says what the file now holds.
    noteFile(absolute, sealing);
    return writeSeal(absolute, sealing, nullptr);
}

namespace {

#ifndef Q_OS_WIN
// The inode at path, 0 when there is none (or a symbolic link stands there).
quint64 inodeAt(const QString& path, qint64* size = nullptr) {
    struct ::stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || S_ISLNK(status.st_mode))
        return 0;
    if (size)
        *size = qint64(status.st_size);
    return quint64(status.st_ino);
}
#endif

} // namespace

void FileSealer::noteFile(const QString& absolute, Sealing& sealing) {
#ifndef Q_OS_WIN
    // What the file is after this sealer's append (or its cut back after a
    // failed one), to tell another's hand from its own.
    struct ::stat status {};
    if (::lstat(QFile::encodeName(absolute).constData(), &status) == 0 &&
        status.st_size == sealing.state.bytes + sealing.state.partial.size()) {
        sealing.fileInode = quint64(status.st_ino);
        sealing.fileChanged = qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    }
#else
    Q_UNUSED(absolute);
    Q_UNUSED(sealing);
#endif
}

QString FileSealer::changedSince(const QString& path) const {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return {};
#else
    const std::lock_guard lock(m_mutex);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const auto known = m_files.find(absolute);
    qint64 size = 0;
    const quint64 inode = inodeAt(absolute, &size);
    if (known == m_files.end())
        return inode == 0 || !m_state ? QString()
                                      : QStringLiteral("there already, not begun by the recorder");
    const Sealing& sealing = known->second;
    const qint64 wrote = sealing.state.bytes + sealing.state.partial.size();
    // Nothing of this sealer's landed yet (a first record lost to a full
    // disk): as for a file never begun.
    if (sealing.fileInode == 0 && wrote == 0)
        return inode == 0 ? QString() : QStringLiteral("there already, not begun by the recorder");
    QStringList found;
    if (inode == 0)
        found << QStringLiteral("removed");
    else if (inode != sealing.fileInode)
        found << QStringLiteral("replaced");
    else if (size < wrote)
        found << QStringLiteral("cut back to %1 bytes").arg(size);
    else if (size > wrote)
        found << QStringLiteral("%1 bytes added by someone else").arg(size - wrote);
    else if (struct ::stat status{};
             ::lstat(QFile::encodeName(absolute).constData(), &status) == 0 &&
             qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec !=
                 sealing.fileChanged &&
             trailHead(readRegularFile(absolute).bytes) != hashOf(sealing.bytesHash))
        // Its length kept and its time of change moved: the bytes tell an
        // edit from a change of mode, owner or attribute (a backup's hard
        // link, a chmod), which leaves the records as written.
        found << QStringLiteral("changed");
    else if (sealing.foreign)
        found << QStringLiteral("not as written");
    const quint64 seal = inodeAt(absolute + sealSuffix);
    if (sealing.sealInode != 0 && seal != sealing.sealInode)
        found << (seal == 0 ? QStringLiteral("its seal removed")
                            : QStringLiteral("its seal replaced"));
    qint64 blocksSize = 0;
    const quint64 blocks = inodeAt(absolute + blocksSuffix, &blocksSize);
    if (sealing.blocksInode != 0 && blocks != sealing.blocksInode)
        found << (blocks == 0 ? QStringLiteral("its block list removed")
                              : QStringLiteral("its block list replaced"));
    else if (sealing.blocksInode != 0 && blocksSize != sealing.blocksOnDisk * blockHashBytes)
        found << QStringLiteral("its block list changed");
    if (found.isEmpty())
        return {};
    return QStringLiteral("%1 (the recorder had written %2 records, %3 bytes, hash %4)")
        .arg(found.join(QLatin1String(", ")))
        .arg(sealing.state.records())
        .arg(wrote)
        .arg(hashOf(sealing.bytesHash).left(16));
#endif
}

void FileSealer::forget(const QString& path) {
    const std::lock_guard lock(m_mutex);
    drop(QFileInfo(path).absoluteFilePath());
}

void FileSealer::drop(const QString& absolute) {
    const auto known = m_files.find(absolute);
    if (known == m_files.end())
        return;
#ifndef Q_OS_WIN
    if (known->second.sealFd >= 0)
        ::close(known->second.sealFd);
#endif
    if (m_state)
        m_state->closeRecording(known->second.name);
    // Before the entry, whose key absolute may be.
    m_pending.erase(absolute);
    m_files.erase(known);
}

bool FileSealer::writeSeal(const QString& path, Sealing& sealing, const SealState* pending) {
    // Only the blocks of landed lines: a list longer than every seal's says
    // an older seal was put back.
    const SealState& landed = sealing.state;
    if (landed.blockCount() != sealing.blocksOnDisk) {
        if (!writeBlockHashes(path + blocksSuffix, landed.blocks, landed.blockCount(),
                              sealing.blocksOnDisk)) {
            sealing.blocksOnDisk = -1;
            return false;
        }
        sealing.blocksOnDisk = landed.blockCount();
#ifndef Q_OS_WIN
        sealing.blocksInode = inodeAt(path + blocksSuffix);
#endif
    }
    const QByteArray text = sealText(sealing.state, m_key, pending);
#ifdef Q_OS_WIN
    return replaceFile(path + sealSuffix, text);
#else
    // In place while the seal there is the one this sealer made; made anew
    // (a rename) when it is not, or at the first seal.
    if (sealing.sealFd >= 0 && inodeAt(path + sealSuffix) != sealing.sealInode) {
        // The recorder's seal removed or replaced: the file is sealed no
        // more, and what stands there is left as it is.
        if (m_state) {
            sealing.foreign = true;
            return false;
        }
        ::close(sealing.sealFd);
        sealing.sealFd = -1;
        sealing.sealInode = 0;
    }
    // A shorter seal replaces the file: cut in place, a kill between the
    // write and the cut, or a reader in between, would find the new text
    // followed by the old one's tail. A longer one is written over the old
    // in one call, which a kill cannot split.
    if (sealing.sealFd < 0 || text.size() < sealing.sealSize) {
        const int fd = createReplacing(path + sealSuffix, text);
        if (fd < 0)
            return false;
        if (sealing.sealFd >= 0)
            ::close(sealing.sealFd);
        sealing.sealFd = fd;
        struct ::stat status {};
        sealing.sealInode = ::fstat(sealing.sealFd, &status) == 0 ? quint64(status.st_ino) : 0;
        sealing.sealSize = text.size();
        return true;
    }
    const bool ok =
        ::pwrite(sealing.sealFd, text.constData(), std::size_t(text.size()), 0) == text.size();
    if (!ok) {
        sealProblem() =
            QStringLiteral("cannot write %1: %2").arg(path + sealSuffix, qt_error_string(errno));
        return false;
    }
    sealing.sealSize = text.size();
    return true;
#endif
}

bool FileSealer::resume(const QString& path, qint64 sizeBefore, bool adoptUnsealed) {
    const QString name = QFileInfo(path).fileName();
    const QString bound = m_controller.isEmpty() ? name : m_controller + QLatin1Char('/') + name;
    SealState state = chainStart(bound, m_key.publicKey, m_headerLines);
    Sealing sealing;
    crypto_generichash_init(&sealing.bytesHash, nullptr, 0, crypto_generichash_BYTES);
    if (sizeBefore > 0) {
        // The recorder seals only what it wrote from the first byte on.
        if (m_state)
            return false;
        const QByteArray before = readRegularFile(path, sizeBefore).bytes;
        if (before.size() != sizeBefore)
            return false;
        if (!adoptUnsealed) {
            const Verdict verdict = verifyAgainstSeal(path, before, ownKeyOnly(m_key.publicKey));
            if (!verdict.intact() || verdict.fingerprint != fingerprint(m_key.publicKey)) {
                qCWarning(lcSealing) << path << "is not sealed by this key:" << verdictText(verdict)
                                     << "- left unsealed";
                return false;
            }
        }
        addBytes(state, before);
        crypto_generichash_update(&sealing.bytesHash,
                                  reinterpret_cast<const unsigned char*>(before.constData()),
                                  quint64(before.size()));
    }
    sealing.state = std::move(state);
    sealing.name = bound;
    m_files.emplace(path, std::move(sealing));
    return true;
}

void FileSealer::aboutToWrite(const QString& fileName, qint64 sizeBefore, const QByteArray& bytes) {
    tell(fileName, prepare(fileName, sizeBefore, bytes));
}

void FileSealer::written(const QString& fileName, const recording::AppendOutcome& outcome) {
    const bool sealed = commit(fileName, outcome.ok);
    if (outcome.ok)
        tell(fileName, sealed);
}

void FileSealer::tell(const QString& fileName, bool sealed) {
    // Once as it begins and once as it ends: a full disk fails every record.
    if (!sealed && !m_failing)
        qCWarning(lcSealing).noquote()
            << "could not seal" << fileName << "(" + lastSealProblem() + ")"
            << "- its records go unsealed until a seal can be written again";
    else if (sealed && m_failing)
        qCWarning(lcSealing).noquote() << "sealing" << fileName << "again";
    m_failing = !sealed;
}

void FileSealer::finished(const QString& fileName) {
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    {
        const std::lock_guard lock(m_mutex);
        drop(absolute);
    }
    recording::makeReadOnly(absolute + sealSuffix);
    recording::makeReadOnly(absolute + blocksSuffix);
}

#ifdef Q_OS_WIN

bool replaceFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

bool writeBlockHashes(const QString& path, const QByteArray& blocks, qint64 keep, qint64 onDisk) {
    QFile file(path);
    const qint64 from = onDisk < 0 ? 0 : std::min(onDisk, keep);
    if (!file.open(QIODevice::ReadWrite) || !file.resize(from * blockHashBytes) ||
        !file.seek(from * blockHashBytes))
        return false;
    const QByteArray more = blocks.mid(from * blockHashBytes, (keep - from) * blockHashBytes);
    return file.write(more) == more.size() && file.flush();
}

#else

namespace {

// A file of this sealer's to write, never waited on: a fifo or a device put
// in its place by someone else is refused, not opened for ever.
int openRegularForWriting(const QByteArray& name, int flags) {
    const int fd =
        ::open(name.constData(),
               O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK | flags, 0644);
    if (fd < 0)
        return -1;
    struct ::stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

int createReplacing(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    // The name is this sealer's scratch: whatever is there (a copy left by a
    // kill, or a fifo put there) goes, and the file is made anew.
    ::unlink(temporary.constData());
    const int fd = openRegularForWriting(temporary, O_EXCL);
    if (fd < 0) {
        sealProblem() = QStringLiteral("cannot write %1: %2")
                            .arg(QFile::decodeName(temporary), qt_error_string(errno));
        return -1;
    }
    // Not synced: the rename is atomic for a program killed at any moment,
    // and ext4 writes a file that replaces another by a rename before the
    // rename itself; a sync would cost some 8 ms a record on a plain disk
    // (docs/benchmarks.md), the record's own sync being the one that counts.
    const bool ok = ::write(fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size() &&
                    std::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        sealProblem() = QStringLiteral("cannot replace %1: %2").arg(path, qt_error_string(errno));
        ::close(fd);
        ::unlink(temporary.constData());
        return -1;
    }
    return fd;
}

} // namespace

bool replaceFile(const QString& path, const QByteArray& bytes) {
    const int fd = createReplacing(path, bytes);
    return fd >= 0 && ::close(fd) == 0;
}

bool writeBlockHashes(const QString& path, const QByteArray& blocks, qint64 keep, qint64 onDisk) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = openRegularForWriting(name, 0);
    if (fd < 0)
        return false;
    // Only the hashes not there yet are written: a block's worth of lines
    // adds 32 bytes, however long the file.
    const qint64 from = onDisk < 0 ? 0 : std::min(onDisk, keep);
    const qint64 size = (keep - from) * blockHashBytes;
    bool ok = ::ftruncate(fd, off_t(from * blockHashBytes)) == 0;
    ok = ok && ::pwrite(fd, blocks.constData() + from * blockHashBytes, std::size_t(size),
                        off_t(from * blockHashBytes)) == size;
    // Not synced, as the seal is not: the record's own sync is the one a
    // record pays for, and a block's hash lands before the seal that lists it.
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        sealProblem() = QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(errno));
    return ok;
}

#endif

} // namespace sealing
