#pragma once

// What the recorder's clients see of its controllers: each one's values,
// link and alarms as they come, and the last hour of its values for a client
// that attaches, as lines of the protocol and as one JSON state for the
// shop-floor page.

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <deque>

#include "ControlSection.h"
#include "Controller.h"
#include "PollResult.h"

namespace tkrecord {

struct FeedPoint {
    qint64 msecs = 0;
    // Degrees; NaN where the values were not current.
    double measure = 0;
    double setpoint = 0;
    double power = 0;
};

// The recorder's members of its greeting: the line it owns, and its
// setpoint limits where it writes setpoints (a window offers the same dialog
// as its own, and shows the line as the recorder's).
QJsonObject greetingMembers(const QString& device, const QString& speed,
                            const settings::ControlRead& control);

// "ok", "no answer", "bad answer", "exception", "not connected".
QString linkWord(tklink::PollResult result);

class ClientFeed {
public:
    static constexpr qint64 keptMs = 3600 * 1000;
    // At a poll every 2 s an hour is 1800 points; faster polls keep fewer
    // minutes rather than more memory.
    static constexpr std::size_t maxPoints = 3600;

    explicit ClientFeed(const QList<tklink::Controller*>& controllers);

    // Takes controller's poll as it ended at now; its values line.
    QByteArray take(const tklink::Controller& controller, tklink::PollResult result,
                    const QDateTime& now);
    // The values line of controller as it stands (after an acknowledgement).
    QByteArray valuesLine(const tklink::Controller& controller) const;
    // For a client that starts watching: each controller's history line,
    // then its values line.
    QList<QByteArray> attachLines() const;
    // Every controller's values, and its last hour when withHistory, for
    // scripts and the shop-floor page.
    QJsonObject state(bool withHistory) const;

private:
    struct Kept {
        const tklink::Controller* controller;
        tklink::PollResult last = tklink::PollResult::NotConnected;
        qint64 at = 0;
        std::deque<FeedPoint> points;
    };
    const Kept* find(const tklink::Controller& controller) const;
    static QJsonObject values(const Kept& kept);

    QList<Kept> m_kept;
};

} // namespace tkrecord
