#pragma once

// The alarms as desktop notifications (freedesktop notifications over the
// session bus) with an "Acknowledge" action, so a minimised or covered window
// still calls. One notification per alarm, replaced while the alarm lives,
// its action acknowledging that alarm only. Without a session bus or a
// notification server nothing is shown and nothing is said.

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "AlarmRules.h"

namespace app {

// The notification server's two calls; the session bus's by default, a fake
// one in tests. Its signals come back through AlarmNotifier::actionInvoked
// and AlarmNotifier::closed.
class NotificationBus {
public:
    virtual ~NotificationBus() = default;
    virtual bool connected() const = 0;
    // Notify, replacing replacesId unless 0; done gets the id given, or 0
    // when the call failed. Never waited for.
    virtual void notify(uint replacesId, const QString& summary, const QString& body,
                        std::function<void(uint id)> done) = 0;
    virtual void close(uint id) = 0;
};

class AlarmNotifier : public QObject {
    Q_OBJECT

public:
    // Without a bus, the session bus.
    explicit AlarmNotifier(QObject* parent = nullptr,
                           std::unique_ptr<NotificationBus> bus = nullptr);
    ~AlarmNotifier() override;

    // Shows the alarm's text, in place of its notification if it has one.
    void notify(alarms::Alarm alarm, const QString& summary, const QString& body);
    // Takes the alarm's notification away (acknowledged).
    void withdraw(alarms::Alarm alarm);

public Q_SLOTS:
    // The server's signals.
    void actionInvoked(uint id, const QString& action);
    void closed(uint id, uint reason);

Q_SIGNALS:
    void acknowledgeRequested(alarms::Alarm alarm);

private:
    // One alarm's notification: its id once the server gave it; while a
    // Notify is out, what came for it meanwhile.
    struct Shown {
        uint id = 0;
        bool pending = false;
        bool withdrawn = false;
        std::optional<std::pair<QString, QString>> next;
    };
    void send(alarms::Alarm alarm, const QString& summary, const QString& body);

    std::unique_ptr<NotificationBus> m_bus;
    std::array<Shown, alarms::allAlarms.size()> m_shown;
};

} // namespace app
