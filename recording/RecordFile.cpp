#include "RecordFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringEncoder>

#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcRecording, "tk.recording", QtWarningMsg)

namespace recording {

namespace {

QByteArray encoded(const QString& text) {
    QStringEncoder encode(QStringConverter::System);
    return encode(text);
}

// An empty file also gets the header: one that an earlier, failed record
// created and left empty would otherwise start with a record line.
QString withHeader(const QString& text, const QString& header, bool empty) {
    return empty && !text.startsWith(header) ? header + text : text;
}

#ifdef Q_OS_WIN

AppendOutcome appendText(const QString& fileName, const QString& text, const QString& header,
                         const BeforeWrite& beforeWrite) {
    if (QFileInfo::exists(fileName) && !QFileInfo(fileName).isFile())
        return {};
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return {};
    const qint64 sizeBefore = file.size();
    const QByteArray bytes = encoded(withHeader(text, header, sizeBefore == 0));
    if (beforeWrite)
        beforeWrite(sizeBefore, bytes);
    const qint64 written = file.write(bytes);
    bool ok = written == bytes.size() && ::_commit(file.handle()) == 0;
    if (!ok && written > 0)
        file.resize(sizeBefore);
    file.close();
    // NTFS journals its directory entries itself.
    return {ok && file.error() == QFileDevice::NoError, sizeBefore, bytes};
}

#else

// A file just created lives in the directory's entries: without syncing the
// directory, a power cut can lose the whole file although its data was synced.
bool syncDirectoryOf(const QString& fileName) {
    const QByteArray dir = QFile::encodeName(QFileInfo(fileName).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    ::close(fd);
    return synced;
}

// Non-blocking, so that a named pipe without a reader fails at once instead
// of waiting in open() for one; created tells whether this call made the file.
int openForAppend(const QByteArray& path, bool& created) {
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = ::open(path.constData(), flags);
    created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.constData(), flags | O_CREAT | O_EXCL, 0666);
        created = fd >= 0;
    }
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        qCDebug(lcRecording) << "not a regular file" << path;
        ::close(fd);
        return -1;
    }
    return fd;
}

AppendOutcome appendText(const QString& fileName, const QString& text, const QString& header,
                         const BeforeWrite& beforeWrite) {
    bool created = false;
    const int fd = openForAppend(QFile::encodeName(fileName), created);
    if (fd < 0) {
        qCDebug(lcRecording) << "open" << fileName << qt_error_string(errno);
        return {};
    }
    struct stat info {};
    const off_t sizeBefore = ::fstat(fd, &info) == 0 ? info.st_size : -1;
    const QByteArray bytes = encoded(withHeader(text, header, sizeBefore == 0));
    if (beforeWrite && sizeBefore >= 0)
        beforeWrite(qint64(sizeBefore), bytes);
    // One write: a short one is a failure, never continued, so that the line
    // is cut back whole below.
    const ssize_t written = ::write(fd, bytes.constData(), std::size_t(bytes.size()));
    bool ok = sizeBefore >= 0 && written == bytes.size();
    if (!ok)
        qCDebug(lcRecording) << "write" << fileName << written << "of" << bytes.size()
                             << qt_error_string(errno);
    if (ok && ::fsync(fd) != 0) {
        qCDebug(lcRecording) << "sync" << fileName << qt_error_string(errno);
        ok = false;
    }
    if (!ok && written > 0 && sizeBefore >= 0 && ::ftruncate(fd, sizeBefore) != 0)
        qCDebug(lcRecording) << "could not cut" << fileName << "back to" << sizeBefore;
    if (::close(fd) != 0) {
        qCDebug(lcRecording) << "close" << fileName << qt_error_string(errno);
        ok = false;
    }
    // A file this call made and could not fill (a full disk) would be left
    // empty, a recording that never was.
    if (!ok && created && ::unlink(QFile::encodeName(fileName).constData()) != 0)
        qCDebug(lcRecording) << "could not remove" << fileName << qt_error_string(errno);
    // Best effort: the bytes are written and synced, so the record stands and
    // must not be reported lost (a folder that cannot be opened for reading
    // still takes files).
    if (ok && created && !syncDirectoryOf(fileName))
        qCDebug(lcRecording) << "could not sync the directory of" << fileName;
    return {ok, qint64(sizeBefore), bytes};
}

#endif

} // namespace

bool appendToRecordFile(const QString& fileName, const QString& text,
                        const QString& newFileHeader) {
    return appendText(fileName, text, newFileHeader, {}).ok;
}

AppendOutcome appendRecord(const QString& fileName, const QString& text,
                           const QString& newFileHeader, const BeforeWrite& beforeWrite) {
    return appendText(fileName, text, newFileHeader, beforeWrite);
}

bool makeReadOnly(const QString& fileName) {
    if (!QFileInfo::exists(fileName))
        return true;
    const QFileDevice::Permissions writable = QFileDevice::WriteOwner | QFileDevice::WriteUser |
                                              QFileDevice::WriteGroup | QFileDevice::WriteOther;
    const bool ok = QFile::setPermissions(fileName, QFile::permissions(fileName) & ~writable);
    if (!ok)
        qCWarning(lcRecording) << "could not make" << fileName << "read-only";
    return ok;
}

} // namespace recording

namespace recording {

bool makeWritable(const QString& fileName) {
    return QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::WriteOwner |
                                               QFileDevice::WriteUser);
}

} // namespace recording
