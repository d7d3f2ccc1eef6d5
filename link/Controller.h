#pragma once

// One controller of the line and everything the program knows about it: its
// name and slave address, its last values, whether they are current, when it
// last answered, how its polls ended, and its own alarms. The bus that polls
// it hands it what happened; it tells it on as signals. It never touches the
// program-wide variables.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "AlarmRules.h"
#include "AnswerFrame.h"
#include "Data.h"
#include "LinkStatus.h"
#include "PollResult.h"

namespace tklink {

// A controller as conf.ini names it. An empty name is the one controller of
// a file without [Controllers]: its records, folders and metrics keep the
// names they had before there could be several.
struct ControllerId {
    QString name;
    uint8_t address = controllerAddress;

    bool operator==(const ControllerId&) const = default;
};

// Raw register values as the controller sends them: tenths of a degree for
// the first two, the no-data marker when there are none.
struct ControllerValues {
    float measureRaw = Data::NO_DATA_RAW;
    float setpointRaw = Data::NO_DATA_RAW;
    float powerRaw = 0;

    bool operator==(const ControllerValues&) const = default;
};

class Controller : public QObject {
    Q_OBJECT

public:
    // Polls in a row without a valid answer after which the values are stale.
    static constexpr int staleAfterPolls = 3;

    explicit Controller(ControllerId id, QObject* parent = nullptr);

    const ControllerId& id() const { return m_id; }
    const QString& name() const { return m_id.name; }
    uint8_t address() const { return m_id.address; }

    // The no-data values while not current.
    const ControllerValues& values() const { return m_values; }
    bool valuesCurrent() const { return m_valuesCurrent; }
    // Valid answers come, with or without a measurement: an answer holding
    // the controller's no-measurement word keeps the link up, but its values
    // are not current.
    bool answering() const { return m_answering; }
    // Invalid before the first valid answer.
    const QDateTime& lastAnswer() const { return m_lastAnswer; }
    // Polls without a valid answer since the last one.
    int missedPolls() const { return m_missedPolls; }
    // How many polls ended each way, indexed by PollResult.
    int pollCount(PollResult result) const { return m_pollCounts[std::size_t(result)]; }

    // Empty before startAlarms().
    const std::optional<alarms::AlarmRules>& alarmRules() const { return m_alarms; }
    void startAlarms(const Data::AlarmSettings& settings, const QDateTime& now);
    // Takes new limits; the alarms keep their states.
    void applyAlarmSettings(const Data::AlarmSettings& settings);
    void acknowledgeAlarms();
    void acknowledgeAlarm(alarms::Alarm alarm);
    // Feeds the current values (or their lack) to the alarms.
    void checkAlarms(const QDateTime& now);

    // What the bus has seen, in the order it happens. A valid answer:
    // takeAnswer, confirmAnswer, endPoll(Ok). A missed one: missedPoll, then
    // endPoll. So pollEnded finds the controller as the poll left it.
    void tellStatus(const LinkStatus& status);
    void takeAnswer(const ControllerValues& values, const QDateTime& at);
    // Counts the poll's outcome and tells it.
    void endPoll(PollResult result);
    // Tells the answer taken; the values are current from now on.
    void confirmAnswer();
    // Counts a poll without a valid answer and what came instead (an
    // exception's code, from a gateway or not; frames of another address); at
    // staleAfterPolls the values go stale.
    void missedPoll(PollResult result = PollResult::NoAnswer, int exceptionCode = 0,
                    bool foreign = false, bool viaGateway = false);
    // What the missed polls since the last answer brought, in the operator's
    // words: "no answer", "exception 4 on every poll", "target failed to
    // respond (exception 11) on every poll" (the gateway's own), "answers
    // from another address", "bad answers".
    QString missReason() const;
    // The values are no longer current (no port, or too many missed polls).
    void makeStale();

Q_SIGNALS:
    void status(const tklink::LinkStatus& status);
    void pollEnded(tklink::PollResult result);
    // Every valid answer taken, a late one included.
    void answered();
    // Emitted on changes only; false also when answers without a measurement
    // stop and their values go back to no data.
    void valuesCurrentChanged(bool current);
    void alarmChanged(const alarms::AlarmChange& change);

private:
    void setCurrent(bool current);

    ControllerId m_id;
    ControllerValues m_values;
    bool m_valuesCurrent = false;
    bool m_answering = false;
    QDateTime m_lastAnswer;
    int m_missedPolls = 0;
    // Since the last answer: every missed poll was an exception with this
    // code (-1: not every one), frames of another address came, bad bytes came.
    int m_missException = -1;
    bool m_missGateway = false;
    bool m_missForeign = false;
    bool m_missBad = false;
    std::array<int, pollResultCount> m_pollCounts{};
    std::optional<alarms::AlarmRules> m_alarms;
};

} // namespace tklink
