#pragma once

// Waiting for a condition without a polling step: the condition is checked
// each time this thread's event loop has handled what came and is about to
// sleep, so the wait ends on the event that made it true, where QTRY_* and
// QTest::qWaitFor would sleep on to their next 50 or 10 ms step. What only
// another process makes true (a line it writes to its log) wakes no event
// here: such a wait names the files to watch, and each change wakes it.

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// True once condition() holds, false when timeoutMs passed first. The
// condition may take what it found (lines of a log): it is not asked again
// once it held.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs,
                      const QStringList& watchedFiles = {}) {
    if (condition())
        return true;
    QEventLoop loop;
    bool held = false;
    const auto check = [&] {
        if (!held && condition()) {
            held = true;
            loop.quit();
        }
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QFileSystemWatcher watcher;
    if (!watchedFiles.isEmpty())
        watcher.addPaths(watchedFiles);
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, check);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, check);
    deadline.start(timeoutMs);
    // What changed between the first check and the watch.
    QTimer::singleShot(0, &loop, check);
    loop.exec();
    return held;
}
