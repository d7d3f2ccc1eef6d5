#include "AlarmNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace app {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
// The default action: a click on the notification itself acknowledges too.
const QString acknowledgeKey = QStringLiteral("default");

// Connects at the first question, not at start: the connection costs the
// start-up a thread and a round trip to the bus, and most runs never notify.
class SessionBus : public NotificationBus {
public:
    explicit SessionBus(QObject* receiver) : m_receiver(receiver) {}

    bool connected() const override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected() && !m_listening) {
            m_listening = true;
            bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), m_receiver,
                        SLOT(actionInvoked(uint, QString)));
            bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), m_receiver,
                        SLOT(closed(uint, uint)));
        }
        return bus.isConnected();
    }

    void notify(uint replacesId, const QString& summary, const QString& body,
                std::function<void(uint)> done) override {
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
        // Critical urgency: servers keep it until it is acted on. A timeout
        // of 0 asks the same.
        const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))}};
        call << QStringLiteral("tkcontrol") << replacesId << QStringLiteral("dialog-warning")
             << summary << body << QStringList{acknowledgeKey, QStringLiteral("Acknowledge")}
             << hints << 0;
        // Never waited for: a server that hangs must not stop the window.
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), m_receiver);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_receiver,
                         [done = std::move(done)](QDBusPendingCallWatcher* w) {
                             const QDBusPendingReply<uint> reply = *w;
                             done(reply.isError() ? 0 : reply.value());
                             w->deleteLater();
                         });
    }

    void close(uint id) override {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface,
                                                           QStringLiteral("CloseNotification"));
        call << id;
        QDBusConnection::sessionBus().asyncCall(call);
    }

private:
    QObject* m_receiver;
    mutable bool m_listening = false;
};

} // namespace

AlarmNotifier::AlarmNotifier(QObject* parent, std::unique_ptr<NotificationBus> bus)
    : QObject(parent), m_bus(bus ? std::move(bus) : std::make_unique<SessionBus>(this)) {}

AlarmNotifier::~AlarmNotifier() = default;

void AlarmNotifier::notify(alarms::Alarm alarm, const QString& summary, const QString& body) {
    if (!m_bus->connected())
        return;
    Shown& shown = m_shown[std::size_t(alarm)];
    shown.withdrawn = false;
    // Two Notify calls out for one alarm would make two notifications: the
    // second waits for the first one's id.
    if (shown.pending) {
        shown.next = {summary, body};
        return;
    }
    send(alarm, summary, body);
}

void AlarmNotifier::send(alarms::Alarm alarm, const QString& summary, const QString& body) {
    Shown& shown = m_shown[std::size_t(alarm)];
    shown.pending = true;
    m_bus->notify(shown.id, summary, body, [this, alarm](uint id) {
        Shown& s = m_shown[std::size_t(alarm)];
        s.pending = false;
        s.id = id;
        if (s.withdrawn) {
            s.next.reset();
            withdraw(alarm);
        } else if (s.next) {
            const auto next = *std::exchange(s.next, std::nullopt);
            send(alarm, next.first, next.second);
        }
    });
}

void AlarmNotifier::withdraw(alarms::Alarm alarm) {
    Shown& shown = m_shown[std::size_t(alarm)];
    if (shown.pending) {
        shown.withdrawn = true;
        return;
    }
    if (shown.id != 0 && m_bus->connected())
        m_bus->close(shown.id);
    shown.id = 0;
}

void AlarmNotifier::actionInvoked(uint id, const QString& action) {
    if (id == 0 || action != acknowledgeKey)
        return;
    for (const alarms::Alarm alarm : alarms::allAlarms) {
        if (m_shown[std::size_t(alarm)].id == id)
            Q_EMIT acknowledgeRequested(alarm);
    }
}

void AlarmNotifier::closed(uint id, uint) {
    for (Shown& shown : m_shown) {
        if (shown.id == id)
            shown.id = 0;
    }
}

} // namespace app
