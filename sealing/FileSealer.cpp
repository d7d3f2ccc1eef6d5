#include "FileSealer.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include "RecordFile.h"
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

QString lastSealProblem() {
    return sealProblem();
}

FileSealer::FileSealer(SealKey key, int headerLines, QString controller)
    : m_key(std::move(key)), m_headerLines(headerLines), m_controller(std::move(controller)) {}

bool FileSealer::appended(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                          bool adoptUnsealed) {
    // Committed even when the first seal failed: the bytes are written.
    const bool prepared = prepare(path, sizeBefore, bytes, adoptUnsealed);
    return commit(path, true) && prepared;
}

bool FileSealer::prepare(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                         bool adoptUnsealed) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    auto known = m_files.find(absolute);
    const bool follows =
        known != m_files.end() &&
        known->second.state.bytes + known->second.state.partial.size() == sizeBefore;
    if (!follows) {
        if (known != m_files.end())
            m_files.erase(known);
        if (!resume(absolute, sizeBefore, adoptUnsealed))
            return false;
        known = m_files.find(absolute);
    }
    SealState landed = known->second.state;
    addBytes(landed, bytes);
    // Remembered even when the seal could not be written: what lands is
    // this sealer's own, and the next seal covers it.
    const bool sealed = writeSeal(absolute, known->second, &landed);
    m_pending[absolute] = std::move(landed);
    return sealed;
}

bool FileSealer::commit(const QString& path, bool written) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const auto pending = m_pending.find(absolute);
    const auto known = m_files.find(absolute);
    if (pending == m_pending.end() || known == m_files.end())
        return false;
    SealState landed = std::move(pending->second);
    m_pending.erase(pending);
    // A failed append was cut back: the seal's pending lines never match.
    if (!written)
        return true;
    known->second.state = std::move(landed);
    return writeSeal(absolute, known->second, nullptr);
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
    }
    return replaceFile(path + sealSuffix, sealText(sealing.state, m_key, pending));
}

bool FileSealer::resume(const QString& path, qint64 sizeBefore, bool adoptUnsealed) {
    const QString name = QFileInfo(path).fileName();
    SealState state =
        chainStart(m_controller.isEmpty() ? name : m_controller + QLatin1Char('/') + name,
                   m_key.publicKey, m_headerLines);
    if (sizeBefore > 0) {
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
    }
    m_files[path] = Sealing{std::move(state), -1};
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
    m_files.erase(absolute);
    m_pending.erase(absolute);
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

} // namespace

bool replaceFile(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    // The name is this sealer's scratch: whatever is there (a copy left by a
    // kill, or a fifo put there) goes, and the file is made anew.
    ::unlink(temporary.constData());
    const int fd = openRegularForWriting(temporary, O_EXCL);
    if (fd < 0)
        return false;
    // Not synced: the rename is atomic for a program killed at any moment,
    // and ext4 writes a file that replaces another by a rename before the
    // rename itself; a sync would cost some 8 ms a record on a plain disk
    // (docs/benchmarks.md), the record's own sync being the one that counts.
    bool ok = ::write(fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        sealProblem() = QStringLiteral("cannot replace %1: %2").arg(path, qt_error_string(errno));
        ::unlink(temporary.constData());
    }
    return ok;
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
    ok = ok && (size == 0 || ::fdatasync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        sealProblem() = QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(errno));
    return ok;
}

#endif

} // namespace sealing
