#pragma once

// The window attached to a running tkrecord instead of opening the port the
// recorder holds: the recorder's first controller on the read-outs, graph
// and status line, and "New run…" and "Mark event…" sent to the recorder,
// which writes them into its trail with the user the kernel names. The
// recorder records all the time: there is no "Stop recording" here.

#include <QObject>
#include <QString>

#include <functional>

#include "RecorderClient.h"

class QAbstractButton;
class QLineEdit;

namespace app {

struct AttachedWidgets {
    QLineEdit* status;
    QLineEdit* recording;
    QAbstractButton* startStop;
    QAbstractButton* mark;
    // Shows the read-outs from Data, current or not.
    std::function<void(bool current)> showReadouts;
    // Asks the operator for a text (the event, the batch); empty: cancelled.
    std::function<QString(const QString& question)> ask;
};

class AttachedMode : public QObject {
    Q_OBJECT

public:
    AttachedMode(const QString& folder, AttachedWidgets widgets, QObject* parent = nullptr);

    attach::RecorderClient& client() { return m_client; }

private:
    void onAttached(bool attached);
    void onValues(const attach::RecorderValues& values);
    void shownNothing();

    attach::RecorderClient m_client;
    AttachedWidgets m_widgets;
};

} // namespace app
