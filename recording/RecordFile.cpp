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
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcRecording, "tk.recording", QtWarningMsg)

namespace recording {

namespace {

bool syncToDisk(QFile& file) {
#ifdef Q_OS_WIN
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// A file just created lives in the directory's entries: without syncing the
// directory, a power cut can lose the whole file although its data was synced.
bool syncDirectoryOf(const QString& fileName) {
#ifdef Q_OS_WIN
    Q_UNUSED(fileName);
    return true; // NTFS journals its directory entries itself
#else
    const QByteArray dir = QFile::encodeName(QFileInfo(fileName).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    ::close(fd);
    return synced;
#endif
}

} // namespace

bool appendToRecordFile(const QString& fileName, const QString& text) {
    QStringEncoder encode(QStringConverter::System);
    const QByteArray bytes = encode(text);

    const bool existed = QFileInfo::exists(fileName);
    QFile file(fileName);
    // Unbuffered, so that write() reports what reached the file: through
    // QFile's own buffer a short write can pass for a whole one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        qCDebug(lcRecording) << "open" << fileName << file.errorString();
        return false;
    }
    const qint64 sizeBefore = file.size();
    const qint64 written = file.write(bytes);
    bool ok = written == bytes.size();
    if (!ok)
        qCDebug(lcRecording) << "write" << fileName << written << "of" << bytes.size()
                             << file.errorString();
    if (ok && !syncToDisk(file)) {
        qCDebug(lcRecording) << "sync" << fileName << qt_error_string(errno);
        ok = false;
    }
    if (!ok && written > 0 && !file.resize(sizeBefore))
        qCDebug(lcRecording) << "could not cut" << fileName << "back to" << sizeBefore;
    file.close();
    if (file.error() != QFileDevice::NoError) {
        qCDebug(lcRecording) << "close" << fileName << file.errorString();
        ok = false;
    }
    // Best effort: the bytes are written and synced, so the record stands and
    // must not be reported lost (a folder that cannot be opened for reading
    // still takes files).
    if (ok && !existed && !syncDirectoryOf(fileName))
        qCDebug(lcRecording) << "could not sync the directory of" << fileName;
    return ok;
}

} // namespace recording
