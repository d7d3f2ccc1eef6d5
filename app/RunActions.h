#pragma once

// What "Start recording" and "Mark event…" add to a recording: the run's
// identity, asked before a start and written into the trail right after the
// start's own entry, and the events the operator marks. The identity typed
// last is offered again at the next start of the session.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "RunEvent.h"

class QWidget;

namespace app {

struct RunAsks {
    // The identity for a start, from the last one; nothing: the start is off.
    std::function<std::optional<sealing::RunIdentity>(const sealing::RunIdentity& last)> identity;
    // An event from the shop's list or free words, for controller (empty for
    // the one oven); nothing or empty: none marked.
    std::function<std::optional<QString>(const QStringList& events, const QString& controller)>
        mark;
};

// The dialogs over window.
RunAsks dialogAsks(QWidget* window);

class RunActions {
public:
    using Trail = std::function<void(const QString& event)>;

    RunActions(RunAsks asks, Trail trail);

    // Before a start; false when the operator called it off.
    bool askIdentity();
    // After the "recording started: FILE" entry, with the same FILE.
    void recordingStarted(const QString& fileName);
    // "Mark event…": events is the shop's list.
    void mark(const QStringList& events, const QString& controller);

    const sealing::RunIdentity& identity() const { return m_identity; }

private:
    RunAsks m_asks;
    Trail m_trail;
    sealing::RunIdentity m_identity;
};

} // namespace app
