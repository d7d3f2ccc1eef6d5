#include "FileSealer.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include "RecordFile.h"
#include "SealText.h"
#include "Verification.h"

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

Q_LOGGING_CATEGORY(lcSealing, "tk.sealing", QtWarningMsg)

namespace sealing {

FileSealer::FileSealer(SealKey key, int headerLines)
    : m_key(std::move(key)), m_headerLines(headerLines) {}

bool FileSealer::appended(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                          bool adoptUnsealed) {
    return prepare(path, sizeBefore, bytes, adoptUnsealed) && commit(path, true);
}

bool FileSealer::prepare(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                         bool adoptUnsealed) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    auto known = m_files.find(absolute);
    const bool follows =
        known != m_files.end() && known->second.bytes + known->second.partial.size() == sizeBefore;
    if (!follows) {
        if (known != m_files.end())
            m_files.erase(known);
        if (!resume(absolute, sizeBefore, adoptUnsealed))
            return false;
        known = m_files.find(absolute);
    }
    SealState landed = known->second;
    addBytes(landed, bytes);
    if (!replaceFile(absolute + sealSuffix, sealText(known->second, m_key, &landed))) {
        // Chained from the file again at the next append.
        m_files.erase(known);
        return false;
    }
    m_pending[absolute] = std::move(landed);
    return true;
}

bool FileSealer::commit(const QString& path, bool written) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const auto pending = m_pending.find(absolute);
    if (pending == m_pending.end())
        return false;
    SealState landed = std::move(pending->second);
    m_pending.erase(pending);
    // A failed append was cut back: the seal's pending lines never match.
    if (!written)
        return true;
    if (!replaceFile(absolute + sealSuffix, sealText(landed, m_key))) {
        m_files.erase(absolute);
        return false;
    }
    m_files[absolute] = std::move(landed);
    return true;
}

bool FileSealer::resume(const QString& path, qint64 sizeBefore, bool adoptUnsealed) {
    SealState state = chainStart(QFileInfo(path).fileName(), m_key.publicKey, m_headerLines);
    if (sizeBefore > 0) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray before = file.read(sizeBefore);
        if (before.size() != sizeBefore)
            return false;
        if (!adoptUnsealed) {
            const Verdict verdict = verifyAgainstSeal(path, before);
            if (!verdict.intact() || verdict.fingerprint != fingerprint(m_key.publicKey)) {
                qCWarning(lcSealing) << path << "is not sealed by this key:" << verdictText(verdict)
                                     << "- left unsealed";
                return false;
            }
        }
        addBytes(state, before);
    }
    m_files[path] = std::move(state);
    return true;
}

void FileSealer::aboutToWrite(const QString& fileName, qint64 sizeBefore, const QByteArray& bytes) {
    if (!prepare(fileName, sizeBefore, bytes))
        qCWarning(lcSealing) << "could not seal" << fileName;
}

void FileSealer::written(const QString& fileName, const recording::AppendOutcome& outcome) {
    if (!commit(fileName, outcome.ok) && outcome.ok)
        qCWarning(lcSealing) << "could not seal" << fileName;
}

void FileSealer::finished(const QString& fileName) {
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    m_files.erase(absolute);
    m_pending.erase(absolute);
    recording::makeReadOnly(absolute + sealSuffix);
}

#ifdef Q_OS_WIN

bool replaceFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

#else

bool replaceFile(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
        qCWarning(lcSealing) << "could not replace" << path << qt_error_string(errno);
        ::unlink(temporary.constData());
    }
    return ok;
}

#endif

} // namespace sealing
