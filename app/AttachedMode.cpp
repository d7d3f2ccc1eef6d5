#include "AttachedMode.h"

#include <QAbstractButton>
#include <QEvent>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>

#include <cmath>

#include "AlarmBand.h"
#include "AlarmNotifier.h"
#include "AlarmText.h"
#include "AlarmTone.h"
#include "BusView.h"
#include "ControllerStrip.h"
#include "Data.h"
#include "PanelArt.h"
#include "RecorderShown.h"
#include "SetpointWrite.h"
#include "Setpoint_dialog.h"

namespace app {

namespace {

// Where the window's own "Setpoint…" goes: under "Mark event…" and "Run…".
const QRect setpointPlace(0, 464, 89, 25);

std::optional<double> limit(const QJsonValue& value) {
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

std::optional<int16_t> setpointTenths(const attach::RecorderValues& values) {
    if (!values.current || !values.setpoint)
        return std::nullopt;
    return static_cast<int16_t>(std::lround(*values.setpoint * 10));
}

} // namespace

AttachedMode::AttachedMode(const QString& folder, AttachedWidgets widgets, QObject* parent)
    : QObject(parent), m_widgets(std::move(widgets)) {
    m_widgets.startStop->setText(QStringLiteral("New run…"));
    m_widgets.startStop->setToolTip(
        QStringLiteral("The recorder records all the time: a new run starts here, and there is "
                       "no Stop recording"));
    connect(&m_client, &attach::RecorderClient::attachedChanged, this, &AttachedMode::onAttached);
    connect(&m_client, &attach::RecorderClient::history, this, &AttachedMode::onHistory);
    connect(&m_client, &attach::RecorderClient::values, this, &AttachedMode::onValues);
    connect(&m_client, &attach::RecorderClient::answered, this,
            [this](const QString& request, bool ok, const QString& text) {
                // The setpoint's outcome is told in the window's own words.
                if (request == tkrecord::requestName(tkrecord::ClientRequest::Kind::Setpoint))
                    return;
                m_widgets.recording->setText(ok ? QStringLiteral("Written by the recorder: ") + text
                                                : QStringLiteral("Refused by the recorder: ") +
                                                      text);
            });
    connect(&m_client, &attach::RecorderClient::setpointEnded, this, [this](const QString& text) {
        m_widgets.status->setText(QStringLiteral("Setpoint write: ") + text);
        if (m_setpointDialog)
            m_setpointDialog->showOutcome(text);
    });
    connect(m_widgets.startStop, &QAbstractButton::clicked, this, [this] {
        const QString batch = m_widgets.ask(QStringLiteral("Batch of the new run:"));
        if (batch.isEmpty())
            return;
        tkrecord::ClientRequest run;
        run.kind = tkrecord::ClientRequest::Kind::Run;
        run.run.batch = batch;
        m_client.send(run);
    });
    connect(m_widgets.mark, &QAbstractButton::clicked, this, [this] {
        const QString text = m_widgets.ask(QStringLiteral("Event:"));
        if (text.trimmed().isEmpty())
            return;
        tkrecord::ClientRequest mark;
        mark.kind = tkrecord::ClientRequest::Kind::Mark;
        mark.text = text;
        mark.controller = m_names.value(m_shown);
        m_client.send(mark);
    });
    // The band's key acknowledges the alarms of the controller it names.
    connect(m_widgets.band, &AlarmBand::acknowledgeClicked, this, [this] {
        if (m_bandController >= 0)
            acknowledge(m_bandController, std::nullopt);
    });
    shownNothing();
    m_client.attachTo(folder);
}

AttachedMode::~AttachedMode() {
    // The dialog has no owner but calls into this.
    delete m_setpointDialog;
}

int AttachedMode::indexOf(const QString& controller) const {
    return int(m_names.indexOf(controller));
}

void AttachedMode::onAttached(bool attached) {
    if (!attached) {
        // Nothing the recorder told is current any more: no value is shown,
        // traced or offered to the setpoint dialog until it tells again. Its
        // alarms stay as it last held them: it holds them while away.
        for (Controller& c : m_controllers)
            c.values = notConnected(c.values);
        m_widgets.status->setText(QStringLiteral("Not connected"));
        // Whether it records meanwhile is not known here.
        m_widgets.recording->setText(
            QStringLiteral("Not connected to the recorder in %1").arg(m_client.folder()));
        for (int i = 0; i < int(m_controllers.size()); ++i)
            showRow(i);
        shownNothing();
        showSetpointController();
        return;
    }
    if (m_client.controllers() != m_names)
        takeControllers();
    m_widgets.status->setText(QStringLiteral("Attached to the recorder in ") + m_client.folder());
    m_widgets.recording->setText(
        QStringLiteral("The recorder in %1 records all the time").arg(m_client.folder()));
    // Setpoints are written where the recorder writes them, within its limits.
    const QJsonValue setpoint = m_client.greeting().value(QLatin1String("setpoint"));
    if (setpoint.isObject() && !m_setpointButton) {
        auto* button = new PanelButton(QStringLiteral("Setpoint…"), m_widgets.window);
        button->setObjectName(QStringLiteral("setpointButton"));
        button->setGeometry(setpointPlace);
        button->setFont(m_widgets.keyFont);
        button->show();
        m_setpointButton = button;
        connect(button, &QAbstractButton::clicked, this, &AttachedMode::openSetpoint);
        m_widgets.setpointReadout->installEventFilter(this);
        m_widgets.setpointReadout->setToolTip(
            QStringLiteral("Double-click to change the setpoint"));
    }
    if (m_setpointButton)
        m_setpointButton->setVisible(setpoint.isObject());
}

// The recorder's controllers, as its greeting names them: each with its own
// past and notifications; the first shown.
void AttachedMode::takeControllers() {
    for (const Controller& c : m_controllers)
        delete c.notifier;
    m_names = m_client.controllers();
    m_controllers = std::vector<Controller>(std::size_t(m_names.size()));
    for (int i = 0; i < m_names.size(); ++i) {
        Controller& c = m_controllers[std::size_t(i)];
        c.values.controller = m_names[i];
        c.notifier = new AlarmNotifier(this);
        connect(c.notifier, &AlarmNotifier::acknowledgeRequested, this,
                [this, i](alarms::Alarm alarm) { acknowledge(i, alarm); });
    }
    m_shown = 0;
    for (std::size_t i = 0; i < Data::measureHistory.size(); ++i)
        Data::measureHistory[i] = Data::setpointHistory[i] = Data::NO_DATA;
    // The curves of controllers gone are not drawn until the past comes.
    m_widgets.redrawTrace();
    m_widgets.shownName->setText(m_names.value(0));
    m_strip = m_widgets.makeStrip(int(m_names.size()));
    if (m_strip) {
        connect(m_strip, &ControllerStrip::chosen, this, &AttachedMode::show);
        m_strip->markShown(m_shown);
        for (int i = 0; i < m_names.size(); ++i)
            showRow(i);
    }
    shownNothing();
    showAlarmState();
}

void AttachedMode::onHistory(const QString& controller, const QList<QList<double>>& points) {
    const int index = indexOf(controller);
    if (index < 0)
        return;
    // The shown controller's rings are Data's: set aside while merged.
    display::HistoryRings& kept = m_controllers[std::size_t(index)].rings;
    if (index == m_shown)
        display::swapWithShown(kept);
    const qint64 now = m_widgets.now().toMSecsSinceEpoch();
    kept = tracedBefore(ringsFromHistory(points, now), kept, points, now);
    if (index != m_shown)
        return;
    display::swapWithShown(kept);
    m_widgets.redrawTrace();
}

void AttachedMode::onValues(const attach::RecorderValues& values) {
    const int index = indexOf(values.controller);
    if (index < 0)
        return;
    Controller& c = m_controllers[std::size_t(index)];
    const alarms::AlarmStatuses before = c.values.statuses;
    c.values = values;
    tellAlarmChanges(index, before);
    showRow(index);
    if (index == m_shown) {
        showShown();
        showSetpointController();
    }
    showAlarmState();
}

void AttachedMode::show(int index) {
    if (index == m_shown || index < 0 || index >= m_names.size())
        return;
    const int before = m_shown;
    display::swapWithShown(m_controllers[std::size_t(before)].rings);
    display::swapWithShown(m_controllers[std::size_t(index)].rings);
    m_shown = index;
    m_widgets.shownName->setText(m_names[index]);
    showShown();
    m_widgets.redrawTrace();
    if (m_strip)
        m_strip->markShown(index);
    showRow(before);
    showRow(index);
    showAlarmState();
    showSetpointController();
}

void AttachedMode::storeSamples(const QString& timeOfDay) {
    for (int i = 0; i < int(m_controllers.size()); ++i) {
        if (i == m_shown)
            continue;
        const attach::RecorderValues& v = m_controllers[std::size_t(i)].values;
        const bool current = v.current && v.measure && v.setpoint;
        display::storeSample(m_controllers[std::size_t(i)].rings,
                             current ? float(*v.measure * 10) : Data::NO_DATA_RAW,
                             current ? float(*v.setpoint * 10) : Data::NO_DATA_RAW, timeOfDay);
    }
}

// The shown controller's values into Data, for the read-outs and the trace.
void AttachedMode::showShown() {
    const attach::RecorderValues& values = m_controllers[std::size_t(m_shown)].values;
    if (m_client.attached())
        m_widgets.status->setText(attachedStatusText(m_client.folder(), values));
    if (!values.current || !values.measure || !values.setpoint) {
        shownNothing();
        return;
    }
    // Data holds raw tenths, as the controller sends them.
    Data::measureRaw = float(*values.measure * 10);
    Data::setpointRaw = float(*values.setpoint * 10);
    Data::powerRaw = float(values.power.value_or(0));
    m_widgets.showReadouts(true);
}

void AttachedMode::tellAlarmChanges(int index, const alarms::AlarmStatuses& before) {
    const Controller& c = m_controllers[std::size_t(index)];
    // Several controllers: each notification names its own.
    const QString named = m_names.size() > 1 ? m_names[index] + QStringLiteral(": ") : QString();
    for (const alarms::Alarm alarm : alarms::allAlarms) {
        const alarms::AlarmStatus& status = c.values.statuses[std::size_t(alarm)];
        if (status.state == before[std::size_t(alarm)].state)
            continue;
        // A cleared alarm's notification says so, and waits for its acknowledgement.
        if (status.state == alarms::AlarmState::ActiveUnacknowledged ||
            status.state == alarms::AlarmState::ClearedUnacknowledged)
            c.notifier->notify(alarm, QStringLiteral("ALARM – ") + named + alarms::alarmName(alarm),
                               named + alarms::bandText(alarm, status));
        else
            c.notifier->withdraw(alarm);
    }
}

void AttachedMode::showAlarmState() {
    QList<alarms::NamedStatuses> all;
    QStringList waiting;
    for (int i = 0; i < int(m_controllers.size()); ++i) {
        const alarms::AlarmStatuses& statuses = m_controllers[std::size_t(i)].values.statuses;
        all.append({m_names[i], &statuses});
        if (alarms::unacknowledged(statuses))
            waiting << m_names[i];
    }
    if (all.size() > 1) {
        const alarms::BusBandLook look = alarms::busBandLook(all);
        m_bandController = look.controller;
        m_widgets.band->showLook(look.look);
        m_widgets.setTitle(busTitle(m_names[m_shown], waiting));
    } else {
        const alarms::BandLook look =
            all.isEmpty() ? alarms::BandLook{} : alarms::bandLook(*all[0].statuses);
        m_bandController = look.colour == alarms::BandColour::Hidden ? -1 : 0;
        m_widgets.band->showLook(look);
        m_widgets.setTitle(waiting.isEmpty() ? QString() : QStringLiteral("ALARM"));
    }
    m_widgets.tone->setRinging(!waiting.isEmpty() && Data::alarms.sound);
}

void AttachedMode::showRow(int index) {
    if (m_strip)
        m_strip->showRow(index, stripRow(m_controllers[std::size_t(index)].values));
}

void AttachedMode::acknowledge(int index, std::optional<alarms::Alarm> alarm) {
    tkrecord::ClientRequest request;
    request.kind = tkrecord::ClientRequest::Kind::Acknowledge;
    request.controller = m_names.value(index);
    request.alarm = alarm;
    m_client.send(request);
}

void AttachedMode::openSetpoint() {
    if (!m_setpointButton || m_names.isEmpty())
        return;
    if (!m_setpointDialog) {
        m_setpointDialog = new settings::Setpoint_dialog;
        connect(m_setpointDialog, &settings::Setpoint_dialog::writeRequested, this,
                [this](const tklink::ControllerId& id, int16_t tenths, const QString& reason) {
                    tkrecord::ClientRequest request;
                    request.kind = tkrecord::ClientRequest::Kind::Setpoint;
                    request.controller = id.name;
                    request.setpointTenths = tenths;
                    request.text = reason;
                    const int index = indexOf(id.name);
                    if (index < 0) {
                        // The recorder came back with other controllers.
                        m_setpointDialog->showProgress(
                            QStringLiteral("Nothing written: the recorder has no controller %1.")
                                .arg(id.name));
                        return;
                    }
                    const tklink::SetpointChange change{
                        id,
                        setpointTenths(m_controllers[std::size_t(index)].values).value_or(tenths),
                        tenths, reason};
                    m_setpointDialog->showProgress(tklink::setpointChangeText(change) +
                                                   QStringLiteral(": asked of the recorder"));
                    m_client.send(request);
                });
    }
    const QJsonObject limits = m_client.greeting().value(QLatin1String("setpoint")).toObject();
    const std::optional<double> low = limit(limits.value(QLatin1String("min")));
    const std::optional<double> high = limit(limits.value(QLatin1String("max")));
    m_setpointDialog->setLimits(
        low, high,
        low && high ? QString()
                    : QStringLiteral("No setpoint can be written: the recorder's conf.ini "
                                     "[Control] needs both SetpointMin and SetpointMax."));
    showSetpointController();
    // Reopened: nothing of an earlier attempt is offered again.
    if (!m_setpointDialog->isVisible())
        m_setpointDialog->start();
    m_setpointDialog->show();
    m_setpointDialog->raise();
    m_setpointDialog->activateWindow();
}

void AttachedMode::showSetpointController() {
    if (!m_setpointDialog || m_names.isEmpty())
        return;
    const attach::RecorderValues& values = m_controllers[std::size_t(m_shown)].values;
    const tklink::ControllerId id{m_names[m_shown], uint8_t(values.address)};
    m_setpointDialog->setController(id, setpointTenths(values),
                                    values.msecs == 0 ? QStringLiteral("not known yet")
                                                      : QStringLiteral("not answering"));
}

bool AttachedMode::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_widgets.setpointReadout && event->type() == QEvent::MouseButtonDblClick &&
        m_setpointButton && m_setpointButton->isVisible()) {
        openSetpoint();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void AttachedMode::shownNothing() {
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0;
    m_widgets.showReadouts(false);
}

} // namespace app
