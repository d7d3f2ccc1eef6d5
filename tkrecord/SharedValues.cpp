#include "SharedValues.h"

#include "AlarmText.h"

namespace tkrecord {

QString alarmEventWord(const alarms::AlarmChange& change) {
    using alarms::AlarmState;
    switch (change.to) {
    case AlarmState::ActiveUnacknowledged:
        return QStringLiteral("raised");
    case AlarmState::ActiveAcknowledged:
        return QStringLiteral("acknowledged");
    case AlarmState::ClearedUnacknowledged:
        return QStringLiteral("cleared");
    case AlarmState::Normal:
        // A cleared alarm acknowledged, or an acknowledged one that clears.
        return change.from == AlarmState::ClearedUnacknowledged ? QStringLiteral("acknowledged")
                                                                : QStringLiteral("cleared");
    }
    return {};
}

SharedValues::SharedValues(Clock now, QObject* parent) : QObject(parent), m_now(std::move(now)) {
    m_tell.setSingleShot(true);
    m_tell.setInterval(0);
    connect(&m_tell, &QTimer::timeout, this, &SharedValues::tellChanges);
}

void SharedValues::watch(tklink::Controller& controller) {
    const int index = int(m_controllers.size());
    m_controllers.append(&controller);
    m_shared.append({controller.name(), controller.address(), {}, false, {}, {}});
    m_dirty.append(false);
    update(index);
    const auto later = [this, index] {
        m_dirty[index] = true;
        m_tell.start();
    };
    connect(&controller, &tklink::Controller::pollEnded, this, later);
    connect(&controller, &tklink::Controller::answered, this, later);
    connect(&controller, &tklink::Controller::valuesCurrentChanged, this, later);
    connect(&controller, &tklink::Controller::alarmChanged, this,
            [this, index, later](const alarms::AlarmChange& change) {
                Q_EMIT alarmEvent(index, {alarmEventWord(change), change.alarm, m_now()});
                later();
            });
}

std::optional<ShareRegisters> SharedValues::registers(uint8_t unit) const {
    for (const SharedController& c : m_shared) {
        if (c.address != unit)
            continue;
        if (!c.values)
            return std::nullopt;
        // Signed tenths and the power as the registers carry them.
        return ShareRegisters{uint16_t(int16_t(c.values->measureRaw)),
                              uint16_t(int16_t(c.values->setpointRaw)),
                              uint16_t(int16_t(c.values->powerRaw))};
    }
    return std::nullopt;
}

void SharedValues::update(int index) {
    const tklink::Controller& controller = *m_controllers[index];
    SharedController& shared = m_shared[index];
    shared.values = controller.valuesCurrent()
                        ? std::optional<tklink::ControllerValues>(controller.values())
                        : std::nullopt;
    shared.linkUp = controller.answering();
    shared.alarms.clear();
    if (const auto& rules = controller.alarmRules())
        for (const alarms::Alarm alarm : alarms::allAlarms)
            if (rules->active(alarm))
                shared.alarms << alarms::metricLabel(alarm);
    shared.answeredAt = controller.lastAnswer();
}

void SharedValues::tellChanges() {
    for (int index = 0; index < m_dirty.size(); ++index) {
        if (!std::exchange(m_dirty[index], false))
            continue;
        update(index);
        Q_EMIT changed(index);
    }
}

} // namespace tkrecord
