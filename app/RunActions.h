#pragma once

// What "Start recording", "Run…" and "Mark event…" add to a recording: the
// run's identity, written into the trail right after the start's own entry,
// and the events the operator marks. A start is one click: the run's only
// field is then its operator, the user, and "Run…" gives the running
// recording its batch, part and customer. A shop that wants them before the
// start asks for them there (askBeforeStart), and the identity typed last is
// offered again at the next start of the session; otherwise nothing of an
// earlier run is carried into a new one.

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
    void setAskBeforeStart(bool ask) { m_askBeforeStart = ask; }

    // Before a start; false when the operator called it off.
    bool askIdentity();
    // After the "recording started: FILE" entry, with the same FILE (each
    // controller's file on a bus).
    void recordingStarted(const QString& fileName);
    void recordingStopped();
    // "Run…": the running recording's identity, asked and written again as a
    // run entry of each of its files; nothing without a recording.
    void amend();
    bool recording() const { return !m_files.isEmpty(); }
    // "Mark event…": events is the shop's list.
    void mark(const QStringList& events, const QString& controller);

    const sealing::RunIdentity& identity() const { return m_identity; }

private:
    RunAsks m_asks;
    Trail m_trail;
    bool m_askBeforeStart = false;
    sealing::RunIdentity m_identity;
    // The running recording's files.
    QStringList m_files;
};

} // namespace app
