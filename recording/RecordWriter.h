#pragma once

// Writes recording files away from the caller's thread (on one thread that
// every writer of the process shares), so that a slow or stalled medium (a network folder that
// hangs, a disk that takes seconds to sync) costs records, never the poll, the trace or the
// windows. One record at a time, in order, each with the durability of appendToRecordFile; the
// outcome comes back on the caller's thread.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace recording {

struct AppendOutcome;

// What goes beside the files a writer writes (their seals). Called on the
// writer's thread, in the order of the writes.
class FileCompanion {
public:
    virtual ~FileCompanion() = default;
    // Just before each write of the default append, and after it, whatever
    // its outcome.
    virtual void aboutToWrite(const QString& fileName, qint64 sizeBefore,
                              const QByteArray& bytes) = 0;
    virtual void written(const QString& fileName, const AppendOutcome& outcome) = 0;
    // Once a finished file has been made read-only.
    virtual void finished(const QString& fileName) = 0;
};

class RecordWriter : public QObject {
    Q_OBJECT

public:
    // What writes one record: appendToRecordFile with the header for a new
    // file, unless a test or a benchmark puts something else in its place.
    using AppendFunction = std::function<bool(const QString& fileName, const QString& text)>;

    explicit RecordWriter(QObject* parent = nullptr);
    // Waits a moment for the record in flight; one stuck in the medium is
    // left to the write thread, which ends with the process.
    ~RecordWriter() override;
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Queues one record (a header line or a record line, CR LF included); a
    // file it creates starts with the header line. False, and nothing queued,
    // while the previous record is still being written: the caller reports
    // the record as lost. With reopen, a file this writer finished is made
    // writable again first (a recording started again within its second).
    bool append(const QString& fileName, const QString& line, const QDateTime& when,
                bool reopen = false);
    // Waits up to ms for the record in flight; true when none is left.
    bool waitForIdle(int ms);
    bool busy() const;

    void setAppendFunction(AppendFunction append);
    void setCompanion(std::shared_ptr<FileCompanion> companion);

    // Whether finish() makes a file read-only (the default).
    void setReadOnlyWhenFinished(bool readOnly);
    // The file will get no more records: once the writes queued before are
    // done, it is made read-only unless told otherwise (and the companion told).
    void finish(const QString& fileName);

Q_SIGNALS:
    // On the caller's thread, once per append() that returned true, in order.
    void finished(bool ok, const QDateTime& when);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace recording
