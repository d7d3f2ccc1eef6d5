#include <QSignalSpy>
#include <QTest>

#include "AlarmNotifier.h"

using alarms::Alarm;

namespace {

// The notification server as the notifier sees it: each call written down,
// the ids handed out only when the test says so, as a real server answers
// later.
class FakeBus : public app::NotificationBus {
public:
    bool connected() const override { return true; }
    void notify(uint replacesId, const QString& summary, const QString&,
                std::function<void(uint)> done) override {
        calls << QStringLiteral("notify %1 %2").arg(replacesId).arg(summary);
        replies << std::move(done);
    }
    void close(uint id) override { calls << QStringLiteral("close %1").arg(id); }

    QStringList& calls;
    QList<std::function<void(uint)>>& replies;
    FakeBus(QStringList& c, QList<std::function<void(uint)>>& r) : calls(c), replies(r) {}
};

} // namespace

class TestAlarmNotifier : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oneNotificationPerAlarm();
};

// Two alarms raised on one poll: two notifications, each replaced while it
// lives, each acknowledging its own alarm, all withdrawn at the band's
// acknowledgement.
void TestAlarmNotifier::oneNotificationPerAlarm() {
    QStringList calls;
    QList<std::function<void(uint)>> replies;
    app::AlarmNotifier notifier(nullptr, std::make_unique<FakeBus>(calls, replies));
    QSignalSpy acknowledged(&notifier, &app::AlarmNotifier::acknowledgeRequested);

    notifier.notify(Alarm::High, QStringLiteral("high"), {});
    notifier.notify(Alarm::Deviation, QStringLiteral("deviation"), {});
    notifier.notify(Alarm::High, QStringLiteral("high cleared"), {}); // before the first id
    QCOMPARE(replies.size(), 2);
    replies.takeFirst()(7);
    replies.takeFirst()(8);
    QCOMPARE(replies.size(), 1);
    replies.takeFirst()(7);

    notifier.actionInvoked(8, QStringLiteral("default"));
    notifier.actionInvoked(9, QStringLiteral("default")); // someone else's
    QCOMPARE(acknowledged.size(), 1);
    QCOMPARE(acknowledged.at(0).at(0).value<Alarm>(), Alarm::Deviation);

    notifier.withdraw(Alarm::Deviation);
    notifier.withdraw(Alarm::High);
    notifier.withdraw(Alarm::Link); // never shown
    QCOMPARE(calls, QStringList({"notify 0 high", "notify 0 deviation", "notify 7 high cleared",
                                 "close 8", "close 7"}));
}

QTEST_GUILESS_MAIN(TestAlarmNotifier)
#include "tst_alarmnotifier.moc"
