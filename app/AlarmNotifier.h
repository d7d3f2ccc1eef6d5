#pragma once

// The alarm as a desktop notification (freedesktop notifications over the
// session bus) with an "Acknowledge" action, so a minimised or covered window
// still calls. Without a session bus or a notification server nothing is
// shown and nothing is said.

#include <QObject>
#include <QString>

namespace app {

class AlarmNotifier : public QObject {
    Q_OBJECT

public:
    explicit AlarmNotifier(QObject* parent = nullptr);

    // Shows the text, in place of the notification shown before.
    void notify(const QString& summary, const QString& body);
    // Takes the notification away (acknowledged in the window).
    void withdraw();

Q_SIGNALS:
    void acknowledgeRequested();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    uint m_id = 0;
};

} // namespace app
