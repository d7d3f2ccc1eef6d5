#include "AttachedMode.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "Data.h"

namespace app {

AttachedMode::AttachedMode(const QString& folder, AttachedWidgets widgets, QObject* parent)
    : QObject(parent), m_widgets(std::move(widgets)) {
    m_widgets.startStop->setText(QStringLiteral("New run…"));
    m_widgets.startStop->setToolTip(
        QStringLiteral("The recorder records all the time: a new run starts here, and there is "
                       "no Stop recording"));
    connect(&m_client, &attach::RecorderClient::attachedChanged, this, &AttachedMode::onAttached);
    connect(&m_client, &attach::RecorderClient::values, this, &AttachedMode::onValues);
    connect(&m_client, &attach::RecorderClient::answered, this,
            [this](const QString&, bool ok, const QString& text) {
                m_widgets.recording->setText(ok ? QStringLiteral("Written by the recorder: ") + text
                                                : QStringLiteral("Refused by the recorder: ") +
                                                      text);
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
        mark.controller = m_client.controllers().value(0);
        m_client.send(mark);
    });
    shownNothing();
    m_client.attachTo(folder);
}

void AttachedMode::onAttached(bool attached) {
    if (!attached) {
        m_widgets.status->setText(QStringLiteral("Not connected"));
        shownNothing();
        return;
    }
    m_widgets.status->setText(QStringLiteral("Attached to the recorder in ") + m_client.folder());
    m_widgets.recording->setText(
        QStringLiteral("The recorder in %1 records all the time").arg(m_client.folder()));
}

void AttachedMode::onValues(const attach::RecorderValues& values) {
    if (values.controller != m_client.controllers().value(0))
        return;
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

void AttachedMode::shownNothing() {
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0;
    m_widgets.showReadouts(false);
}

} // namespace app
