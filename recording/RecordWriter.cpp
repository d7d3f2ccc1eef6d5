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
#include <optional>
#include <set>
#include <thread>

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
    std::optional<Job> job; // queued or being written
    std::deque<QString> finishing;
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

    void finishFiles(std::unique_lock<std::mutex>& lock) {
        while (!finishing.empty()) {
            const QString fileName = finishing.front();
            finishing.pop_front();
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
    }

    // Runs on the write thread whenever this writer was given work: the files
    // to finish first (a finish asked for while idle came before the record),
    // then the record; a finish asked for while a record was in flight has
    // work of its own queued behind this.
    void serve() {
        std::unique_lock lock(mutex);
        finishFiles(lock);
        if (job) {
            const Job current = *job;
            const AppendFunction custom = append;
            const std::shared_ptr<FileCompanion> beside = companion;
            lock.unlock();
            const bool ok = write(current, custom, beside);
            lock.lock();
            job.reset();
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
    if (m_shared->job)
        return false;
    m_shared->job = Job{fileName, line, when, reopen};
    WriteThread::post([shared = m_shared] { shared->serve(); });
    return true;
}

bool RecordWriter::waitForIdle(int ms) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return !m_shared->job && m_shared->finishing.empty();
    });
}

bool RecordWriter::busy() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->job.has_value();
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
    m_shared->finishing.push_back(fileName);
    WriteThread::post([shared = m_shared] { shared->serve(); });
}

} // namespace recording
