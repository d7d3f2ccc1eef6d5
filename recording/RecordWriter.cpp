#include "RecordWriter.h"

#include "RecordFile.h"
#include "RecordFormat.h"

#include <QMetaObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <variant>

namespace recording {

namespace {

// How long destruction waits for a record in flight at the end of a run.
constexpr int stopWaitMs = 2000;

struct Job {
    QString fileName;
    QString line;
    QDateTime when;
    bool reopen = false;
};

// The one thread that writes for every writer of the process, in the order
// the work came: a recorder of 247 controllers runs one thread, not 247. A
// writer has at most one record in flight, so the others wait behind it for
// one write at most, unless the medium stalls, which would hold theirs too.
class WriteThread {
public:
    static void post(std::function<void()> work) {
        // Never deleted: a write stuck in the medium at exit keeps it.
        static auto* const thread = new WriteThread;
        thread->add(std::move(work));
    }

private:
    WriteThread() {
        std::thread([this] { run(); }).detach();
    }

    void add(std::function<void()> work) {
        const std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
        m_changed.notify_one();
    }

    [[noreturn]] void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_work.empty(); });
            const std::function<void()> work = std::move(m_work.front());
            m_work.pop_front();
            lock.unlock();
            work();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_work;
};

} // namespace

// Lives as long as the longer of the writer and the work queued for it: a
// write stuck in the medium at exit keeps it alive and finds the writer gone.
struct RecordWriter::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    // This writer's records and finishes in the order they were asked for,
    // each taken off once done: a finish asked for after a record never
    // overtakes it, however much other writers' work is queued before.
    std::deque<std::variant<Job, QString>> work;
    bool recordQueued = false;     // at most one record queued or in flight
    std::set<QString> finished;    // by this writer: the only ones it reopens
    RecordWriter* owner = nullptr; // cleared under the mutex when it goes
    AppendFunction append;         // empty: appendRecord with the header
    std::shared_ptr<FileCompanion> companion;
    bool readOnlyWhenFinished = true;

    // The record and what goes beside it in one step, so a seal never
    // overtakes its record nor lags a record behind the next.
    bool write(const Job& current, const AppendFunction& custom,
               const std::shared_ptr<FileCompanion>& beside) {
        if (current.reopen && finished.erase(current.fileName) > 0)
            makeWritable(current.fileName);
        if (custom)
            return custom(current.fileName, current.line);
        BeforeWrite before;
        if (beside)
            before = [&](qint64 sizeBefore, const QByteArray& bytes) {
                beside->aboutToWrite(current.fileName, sizeBefore, bytes);
            };
        const AppendOutcome outcome =
            appendRecord(current.fileName, current.line, headerLine(), before);
        if (beside)
            beside->written(current.fileName, outcome);
        return outcome.ok;
    }

    void finishFile(const QString& fileName, std::unique_lock<std::mutex>& lock) {
        const std::shared_ptr<FileCompanion> beside = companion;
        const bool readOnly = readOnlyWhenFinished;
        finished.insert(fileName);
        lock.unlock();
        if (readOnly)
            makeReadOnly(fileName);
        if (beside)
            beside->finished(fileName);
        lock.lock();
    }

    // Runs on the write thread once for each piece of work this writer was
    // given, and does the oldest one.
    void serve() {
        std::unique_lock lock(mutex);
        if (work.empty())
            return;
        if (const QString* fileName = std::get_if<QString>(&work.front())) {
            finishFile(*fileName, lock);
        } else {
            const Job current = std::get<Job>(work.front());
            const AppendFunction custom = append;
            const std::shared_ptr<FileCompanion> beside = companion;
            lock.unlock();
            const bool ok = write(current, custom, beside);
            lock.lock();
            recordQueued = false;
            if (owner) {
                // Queued to the writer's thread; dropped if it is deleted first.
                QMetaObject::invokeMethod(
                    owner,
                    [writer = owner, ok, when = current.when] {
                        Q_EMIT writer->finished(ok, when);
                    },
                    Qt::QueuedConnection);
            }
        }
        work.pop_front();
        changed.notify_all();
    }
};

RecordWriter::RecordWriter(QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
}

RecordWriter::~RecordWriter() {
    waitForIdle(stopWaitMs);
    const std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

bool RecordWriter::append(const QString& fileName, const QString& line, const QDateTime& when,
                          bool reopen) {
    const std::lock_guard lock(m_shared->mutex);
    if (m_shared->recordQueued)
        return false;
    m_shared->recordQueued = true;
    m_shared->work.emplace_back(Job{fileName, line, when, reopen});
    WriteThread::post([shared = m_shared] { shared->serve(); });
    return true;
}

bool RecordWriter::waitForIdle(int ms) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                      [this] { return m_shared->work.empty(); });
}

bool RecordWriter::busy() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->recordQueued;
}

void RecordWriter::setAppendFunction(AppendFunction append) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->append = std::move(append);
}

void RecordWriter::setCompanion(std::shared_ptr<FileCompanion> companion) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->companion = std::move(companion);
}

void RecordWriter::setReadOnlyWhenFinished(bool readOnly) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->readOnlyWhenFinished = readOnly;
}

void RecordWriter::finish(const QString& fileName) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->work.emplace_back(fileName);
    WriteThread::post([shared = m_shared] { shared->serve(); });
}

} // namespace recording
