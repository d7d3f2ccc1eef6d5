#include "BusView.h"

#include "AlarmBand.h"
#include "AlarmNotifier.h"
#include "AlarmText.h"
#include "AlarmTone.h"
#include "ControllerSession.h"
#include "ControllerStrip.h"
#include "Data.h"
#include "LinkTexts.h"
#include "RunEvent.h"

namespace app {

QString busTitle(const QString& shown, const QStringList& waiting) {
    if (waiting.isEmpty())
        return shown;
    // The shown controller is named once, first, when it waits too.
    if (waiting.contains(shown)) {
        QStringList names{shown};
        for (const QString& name : waiting)
            if (name != shown)
                names << name;
        return QStringLiteral("ALARM ") + names.join(QStringLiteral(", "));
    }
    return QStringLiteral("ALARM ") + waiting.join(QStringLiteral(", ")) + QStringLiteral(" – ") +
           shown;
}

BusView::BusView(tklink::ControllerSession& session, ControllerStrip& strip, AlarmBand& band,
                 AlarmTone& tone, Hooks hooks, QObject* parent)
    : QObject(parent), m_session(session), m_strip(strip), m_band(band), m_tone(tone),
      m_hooks(std::move(hooks)), m_rings(std::size_t(session.controllers().size())) {
    for (int i = 0; i < session.controllers().size(); ++i) {
        m_status << QString();
        m_notifiers << new AlarmNotifier(this);
        watch(i);
    }
    // The band's key acknowledges the alarms of the controller it names.
    connect(&m_band, &AlarmBand::acknowledgeClicked, this, [this] {
        if (m_bandController >= 0)
            m_session.controllers().at(m_bandController)->acknowledgeAlarms();
    });
    connect(&m_strip, &ControllerStrip::chosen, this, &BusView::show);
    m_strip.markShown(m_session.shownIndex());
    for (int i = 0; i < session.controllers().size(); ++i)
        showRow(i);
    showAlarmState();
}

BusView::~BusView() = default;

void BusView::watch(int index) {
    tklink::Controller* c = m_session.controllers().at(index);
    const auto shown = [this, c] { return c == &m_session.shownController(); };
    connect(c, &tklink::Controller::status, this,
            [this, index, shown](const tklink::LinkStatus& status) {
                m_status[index] = linkStatusText(status);
                if (shown())
                    m_hooks.showStatus(m_status[index]);
            });
    connect(c, &tklink::Controller::answered, this, [this, index, shown] {
        if (shown()) {
            copyShownValues();
            m_hooks.showReadouts(true);
        }
        showRow(index);
    });
    connect(c, &tklink::Controller::valuesCurrentChanged, this, [this, index, shown](bool current) {
        if (shown()) {
            copyShownValues();
            if (!current)
                m_hooks.showReadouts(false);
        }
        showRow(index);
    });
    connect(c, &tklink::Controller::pollEnded, this, [this, index, shown] {
        showRow(index);
        if (shown())
            m_hooks.polled();
    });
    connect(c, &tklink::Controller::alarmChanged, this,
            [this, index](const alarms::AlarmChange& change) { alarmChanged(index, change); });
    connect(m_notifiers[index], &AlarmNotifier::acknowledgeRequested, c,
            &tklink::Controller::acknowledgeAlarm);
}

void BusView::copyShownValues() {
    const tklink::ControllerValues& v = m_session.shownController().values();
    Data::measureRaw = v.measureRaw;
    Data::setpointRaw = v.setpointRaw;
    Data::powerRaw = v.powerRaw;
}

void BusView::show(int index) {
    const int before = m_session.shownIndex();
    if (index == before || index < 0 || index >= m_session.controllers().size())
        return;
    display::swapWithShown(m_rings[std::size_t(before)]);
    display::swapWithShown(m_rings[std::size_t(index)]);
    m_session.setShownController(index);
    copyShownValues();
    m_hooks.showReadouts(m_session.shownController().valuesCurrent());
    m_hooks.showStatus(m_status[index]);
    m_hooks.redrawTrace();
    m_strip.markShown(index);
    showRow(before);
    showRow(index);
    showAlarmState();
}

void BusView::storeSamples(const QString& timeOfDay) {
    const QList<tklink::Controller*>& all = m_session.controllers();
    for (int i = 0; i < all.size(); ++i) {
        if (i == m_session.shownIndex())
            continue;
        const tklink::ControllerValues& v = all[i]->values();
        display::storeSample(m_rings[std::size_t(i)], v.measureRaw, v.setpointRaw, timeOfDay);
    }
}

void BusView::alarmChanged(int index, const alarms::AlarmChange& change) {
    const tklink::Controller& c = *m_session.controllers().at(index);
    const alarms::AlarmStatus& status = c.alarmRules()->status(change.alarm);
    const QString named = c.name() + QStringLiteral(": ");
    m_hooks.auditEvent(sealing::controllerEvent(c.name(), alarms::auditEvent(change, status)));
    // A cleared alarm's notification says so, and waits for its acknowledgement.
    if (change.to == alarms::AlarmState::ActiveUnacknowledged ||
        change.to == alarms::AlarmState::ClearedUnacknowledged)
        m_notifiers[index]->notify(
            change.alarm, QStringLiteral("ALARM – ") + named + alarms::alarmName(change.alarm),
            named + alarms::bandText(change.alarm, status));
    else
        m_notifiers[index]->withdraw(change.alarm);
    showRow(index);
    showAlarmState();
}

void BusView::showAlarmState() {
    QList<alarms::NamedRules> all;
    QStringList waiting;
    for (const tklink::Controller* c : m_session.controllers()) {
        const alarms::AlarmRules* rules = c->alarmRules() ? &*c->alarmRules() : nullptr;
        all.append({c->name(), rules});
        if (rules && rules->unacknowledged())
            waiting << c->name();
    }
    const alarms::BusBandLook look = alarms::busBandLook(all);
    m_bandController = look.controller;
    m_band.showLook(look.look);
    m_tone.setRinging(!waiting.isEmpty() && Data::alarms.sound);
    m_hooks.setTitle(busTitle(m_session.shownController().name(), waiting));
}

void BusView::showRow(int index) {
    m_strip.showRow(index, stripRow(*m_session.controllers().at(index)));
}

} // namespace app
