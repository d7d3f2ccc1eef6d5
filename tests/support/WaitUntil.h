#pragma once

// Waiting for a condition without a polling step: the condition is checked
// each time this thread's event loop has handled what came and is about to
// sleep, so the wait ends on the event that made it true, where QTRY_* would
// sleep on to its next 50 ms step. What only another process makes true (a
// file it writes) wakes no event here: such a wait passes a recheck period.

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

// True once condition() holds, false when timeoutMs passed first.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int recheckMs = 0) {
    if (condition())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, [&] {
                         if (condition())
                             loop.quit();
                     });
    deadline.start(timeoutMs);
    if (recheckMs > 0)
        recheck.start(recheckMs);
    loop.exec();
    return condition();
}
