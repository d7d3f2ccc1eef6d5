#include "Form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QInputDialog>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <memory>
#include <utility>

#include "AlarmBand.h"
#include "AlarmNotifier.h"
#include "AlarmText.h"
#include "AlarmTone.h"
#include "AppInfo.h"
#include "AttachedMode.h"
#include "BusRound.h"
#include "BusView.h"
#include "ControllerSession.h"
#include "ControllerStrip.h"
#include "ControllersSection.h"
#include "CurveTrace.h"
#include "Data.h"
#include "EventsSection.h"
#include "Fonts.h"
#include "GraphBox.h"
#include "LinkTexts.h"
#include "PanelArt.h"
#include "Parameters_dialog.h"
#include "PortAccess.h"
#include "PortFailureText.h"
#include "PortsSection.h"
#include "ProgramSeals.h"
#include "RecordWriter.h"
#include "Recorder.h"
#include "RecorderClient.h"
#include "SetpointAction.h"
#include "Setpoint_dialog.h"
#include "Settings.h"
#include "WindowChoices.h"
#include "WindowFit.h"

namespace app {

namespace {

const QString windowTitleText = QStringLiteral("TK840 TK960 PC control");

const QColor frameColour(0, 0, 0); // the system's window-frame colour

// Long enough for a record on a slow card; a stalled medium is not waited out.
constexpr int stopWaitMs = 5000;

// The trail opens after the first paint, and at the latest this long after the start.
constexpr int openTrailLatestMs = 2000;

// The settings whose changes go in the audit trail: the window's six keys and
// the alarms.
QList<std::pair<QString, QString>> auditedSettings() {
    return settings::settingsEntries() + settings::alarmEntries(Data::alarms);
}

void showErrorBox(const QString& caption, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.setInformativeText(detailMarkup(detail));
    box.exec();
}

QLineEdit* makeTextBox(QWidget* parent, const char* name, const QString& text, const QRect& place,
                       const QFont& font, const QColor& colour, Qt::Alignment alignment) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(place);
    box->setFont(font);
    box->setAlignment(alignment);
    box->setFrame(false);
    // The boxes show values and states; typing into them would show a value
    // that no controller sent.
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, frameColour);
    palette.setColor(QPalette::Text, colour);
    box->setPalette(palette);
    return box;
}

} // namespace

Form1::Form1(Form1Seams seams, QWidget* parent) : QWidget(parent), m_seams(std::move(seams)) {
    if (!m_seams.deviceForPort)
        m_seams.deviceForPort = [](int n) { return settings::configuredDevice(n); };
    if (!m_seams.showError)
        m_seams.showError = showErrorBox;
    if (!m_seams.now)
        m_seams.now = [] { return QDateTime::currentDateTime(); };
    if (!m_seams.screenRoom)
        m_seams.screenRoom = [this] {
            // What a title bar and the frame take, about.
            const QSize frame(8, 40);
            const QScreen* shown = screen();
            return shown ? shown->availableGeometry().size() - frame : QSize(1090, 653);
        };
    const RunAsks dialogs = dialogAsks(this);
    if (!m_seams.runAsks.identity)
        m_seams.runAsks.identity = dialogs.identity;
    if (!m_seams.runAsks.mark)
        m_seams.runAsks.mark = dialogs.mark;

    createControls();
    load();
}

Form1::~Form1() {
    // The dialog has no owner but calls into this window.
    delete m_parameters;
}

void Form1::createControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(windowTitleText);
    setWindowIcon(QIcon(QLatin1String(windowIconFile)));
    setFixedSize(fitWindow(m_seams.screenRoom(), 0, 0).window);

    const QString sevenSegment = installPanelFonts();
    const QFont verdana(QStringLiteral("Verdana"), 1);
    QFont statusFont = verdana;
    statusFont.setPointSizeF(9.75);

    Graph = new display::GraphBox(this);
    Graph->setObjectName(QStringLiteral("Graph"));
    Graph->setGeometry(104, 104, 873, 409);
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSizeF(8.25);
    Graph->setFont(arial);
    QPalette graphPalette = Graph->palette();
    graphPalette.setColor(QPalette::Window, frameColour);
    graphPalette.setColor(QPalette::WindowText, Qt::green);
    Graph->setPalette(graphPalette);
    connect(Graph, &display::GraphBox::clicked, this, &Form1::showParameters);
    Graph->setToolTip(QStringLiteral("Click to open the Parameters"));

    const QRect measPlace(432, 32, 153, 65);
    m_readoutRoom = measPlace.size() - QSize(8, 4);
    const QFont readout = readoutFont(sevenSegment, 48, QStringLiteral("888.8"), m_readoutRoom);
    m_readoutFont = readout;
    meas_box = makeTextBox(this, "meas_box", QStringLiteral("000.0"), measPlace, readout, Qt::green,
                           Qt::AlignCenter);
    setp_box = makeTextBox(this, "setp_box", QStringLiteral("000.0"), QRect(600, 32, 153, 65),
                           readout, Qt::red, Qt::AlignCenter);
    status_field =
        makeTextBox(this, "status_field", QStringLiteral("status_field"), QRect(104, 528, 873, 25),
                    statusFont, Qt::yellow, Qt::AlignLeft | Qt::AlignVCenter);
    recording_field = makeTextBox(this, "recording_field", QStringLiteral("recording_field"),
                                  QRect(104, 560, 873, 25), statusFont, Qt::yellow,
                                  Qt::AlignLeft | Qt::AlignVCenter);

    const auto makeButton = [&](const char* name, const QString& caption, const QRect& place) {
        auto* button = new PanelButton(caption, this);
        button->setObjectName(QLatin1String(name));
        button->setGeometry(place);
        button->setFont(statusFont);
        return button;
    };
    parametersButton =
        makeButton("parametersButton", QStringLiteral("Parameters"), QRect(0, 184, 89, 25));
    Start_stop_recording = makeButton("Start_stop_recording", QStringLiteral("Start recording"),
                                      QRect(0, 240, 89, 41));
    exitButton = makeButton("exitButton", QStringLiteral("Exit"), QRect(0, 312, 89, 25));
    // In the free column under Exit: nothing else moves.
    markEventButton =
        makeButton("markEventButton", QStringLiteral("Mark event…"), QRect(0, 368, 89, 41));
    // The running recording's batch, part and customer, once it runs.
    runButton = makeButton("runButton", QStringLiteral("Run…"), QRect(0, 420, 89, 25));
    runButton->setEnabled(false);
    connect(exitButton, &QAbstractButton::clicked, this, &QWidget::close);
    connect(parametersButton, &QAbstractButton::clicked, this, &Form1::showParameters);

    versionLabel = new QLabel(QStringLiteral("Version"), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    versionLabel->setGeometry(8, 584, 81, 17);
    QPalette labelPalette = versionLabel->palette();
    labelPalette.setColor(QPalette::WindowText, QColor(190, 196, 204));
    versionLabel->setPalette(labelPalette);

    shownName = new QLabel(this);
    shownName->setObjectName(QStringLiteral("shownName"));
    shownName->setGeometry(104, 76, 322, 22);
    shownName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont nameFont = statusFont;
    nameFont.setPointSizeF(13);
    nameFont.setBold(true);
    shownName->setFont(nameFont);
    QPalette namePalette = shownName->palette();
    namePalette.setColor(QPalette::WindowText, Qt::white);
    shownName->setPalette(namePalette);

    timerTraceCurves = new QTimer(this);
    timerTraceCurves->setObjectName(QStringLiteral("timerTraceCurves"));
    timerTraceCurves->setInterval(2500);
    // A coarse timer may fire 5 % off, and the trace would drift off its grid.
    timerTraceCurves->setTimerType(Qt::PreciseTimer);
    connect(timerTraceCurves, &QTimer::timeout, this, &Form1::traceCurves);

    m_session = new tklink::ControllerSession(
        m_seams.deviceForPort, m_seams.now, tklink::ControllerSession::Reconnect::AfterLoss, this);
    m_recorder = new recording::Recorder(m_session->recordTimer(), m_seams.now, this);
    m_run = std::make_unique<RunActions>(m_seams.runAsks,
                                         [this](const QString& event) { seals().event(event); });
    connect(runButton, &QAbstractButton::clicked, this, [this] { m_run->amend(); });
    connect(Start_stop_recording, &QAbstractButton::clicked, this, [this] {
        if (Data::recordingActive == 0 && !m_run->askIdentity())
            return;
        // The first record of a recording started before the trail opened is sealed too.
        seals();
        m_recorder->startStop();
    });
    // On a bus, for the controller shown; its name is empty for the one oven.
    connect(markEventButton, &QAbstractButton::clicked, this, [this] {
        m_run->mark(settings::configuredEvents().events, m_session->shownController().name());
    });
    connect(m_session, &tklink::ControllerSession::recordDue, m_recorder,
            &recording::Recorder::tick);

    // Above the plot, left of the read-outs: no curve goes under it, and the
    // shown controller's name stays in sight below it.
    m_alarmBand = new AlarmBand(this);
    m_alarmBand->setGeometry(104, 4, 322, 70);
    m_notifier = new AlarmNotifier(this);
    m_tone = new AlarmTone(this);
    connect(m_session, &tklink::ControllerSession::alarmChanged, this, &Form1::showAlarms);
    connect(m_alarmBand, &AlarmBand::acknowledgeClicked, m_session,
            &tklink::ControllerSession::acknowledgeAlarms);
    connect(m_notifier, &AlarmNotifier::acknowledgeRequested, m_session,
            &tklink::ControllerSession::acknowledgeAlarm);
    connect(m_recorder, &recording::Recorder::statusText, recording_field, &QLineEdit::setText);
    connect(m_recorder, &recording::Recorder::captionChanged, Start_stop_recording,
            &QAbstractButton::setText);
    connect(m_recorder, &recording::Recorder::recordingChanged, this,
            [this](bool on, const QString& file) {
                runButton->setEnabled(on);
                if (on) {
                    seals().recordingStarted(file);
                    m_run->recordingStarted(file);
                    return;
                }
                m_run->recordingStopped();
                // The trail gets the file as closed, its last record included.
                m_recorder->waitForIdle(stopWaitMs);
                seals().recordingStopped(file);
            });
    // The audit trail hears of the port at each open and at each poll.
    connect(m_session, &tklink::ControllerSession::portOpenTried, this,
            [this](bool opened) { m_seals->portState(opened, serialPort().deviceName()); });
}

void Form1::open_port() {
    m_session->openPort();
}

tklink::SerialPortControl& Form1::serialPort() {
    return m_session->port();
}

settings::Parameters_dialog* Form1::parametersDialog() const {
    return m_parameters;
}

void Form1::showParameters() {
    if (!m_parameters) {
        settings::Parameters_dialog::Actions actions;
        actions.openPort = [this] {
            open_port();
            // A gateway being connected to has not failed: its states follow.
            if (m_session->onGateway())
                return m_session->gatewayRefused();
            return Data::portConnected ? QString() : portFailureReason(serialPort().lastFailure());
        };
        actions.deviceForPort = m_seams.deviceForPort;
        // For "Find controller", which has it reopened with open_port.
        actions.releasePort = [this] {
            seals().portLent(serialPort().deviceName());
            m_session->releasePort();
        };
        actions.alarmsChanged = [this] { m_session->applyAlarmSettings(); };
        if (m_attached) {
            const QJsonObject line =
                m_attached->client().greeting().value(QLatin1String("line")).toObject();
            actions.lineOwner = settings::Parameters_dialog::Actions::LineOwner{
                line.value(QLatin1String("device")).toString(),
                line.value(QLatin1String("speed")).toString(),
                QStringLiteral("Attached to the recorder in %1: the port, its speed, the records "
                               "and the alarms are the recorder's, set in its conf.ini.")
                    .arg(m_attached->client().folder())};
        }
        // Modeless and without an owner: the main window stays usable.
        m_parameters = new settings::Parameters_dialog(std::move(actions));
        connect(m_session, &tklink::ControllerSession::gatewayStateChanged, m_parameters,
                [this](tklink::GatewayLine::State state) {
                    m_parameters->showGatewayState(state, m_session->gateway().reason());
                });
        connect(m_parameters, &settings::Parameters_dialog::saved, this, [this] {
            seals().settingsSaved(m_savedSettings, auditedSettings());
            m_savedSettings = auditedSettings();
        });
    }
    m_parameters->show();
    m_parameters->raise();
    m_parameters->activateWindow();
}

void Form1::load() {
    versionLabel->setText(QLatin1String(versionText));
    // Before the scan, which names each port's device from the [Ports] section.
    const settings::SettingsRead read = settings::loadSettings(QLatin1String(appTitle));
    if (read.status == settings::ConfFileRead::Status::Unreadable)
        m_seams.showError(QLatin1String(appTitle),
                          QStringLiteral("conf.ini cannot be read: the default settings are used."),
                          read.reason);
    if (!read.alarmsRefused.isEmpty())
        m_seams.showError(QLatin1String(appTitle),
                          QStringLiteral("An alarm limit in conf.ini cannot be used: its alarm is "
                                         "off (Link lost and the hysteresis take their defaults) "
                                         "until it is mended under Parameters, Alarms…"),
                          read.alarmsRefused.join(QLatin1Char('\n')));
    if (!read.controllersRefused.isEmpty())
        m_seams.showError(
            QLatin1String(appTitle),
            QStringLiteral("conf.ini [Controllers] cannot be used: the controller at address 9 "
                           "is polled alone."),
            read.controllersRefused);
    followBus(read.controllersRefused.isEmpty() && settings::configuredControllers().bus);
    if (!read.portsRefused.isEmpty())
        m_seams.showError(QLatin1String(appTitle),
                          QStringLiteral("A gateway in conf.ini [Ports] is badly written: that "
                                         "port cannot be opened until it is mended."),
                          read.portsRefused);
    if (!read.controlRefused.isEmpty())
        m_seams.showError(QLatin1String(appTitle),
                          QStringLiteral("A value of conf.ini [Control] cannot be used: the "
                                         "setpoint cannot be changed from this window until it "
                                         "is mended."),
                          read.controlRefused.join(QLatin1Char('\n')));
    // What the shop turned on; a plain conf.ini turns on nothing.
    const settings::WindowChoices& choices = settings::configuredWindowChoices();
    Data::alarms.watched = choices.alarms;
    m_run->setAskBeforeStart(choices.askForRun);
    if (!choices.refused.isEmpty())
        m_seams.showError(QLatin1String(appTitle),
                          QStringLiteral("A value of conf.ini cannot be used: what it turns on "
                                         "stays off until it is mended."),
                          choices.refused.join(QLatin1Char('\n')));
    if (!read.eventsRefused.isEmpty())
        m_seams.showError(
            QLatin1String(appTitle),
            QStringLiteral(
                "conf.ini [Events] cannot be used: \"Mark event…\" offers the default events."),
            read.eventsRefused);
    tklink::scanSerialPorts(serialPort());
    Data::portConnected = false;
    // Opened after the first picture (seals()): the port's events of the
    // start-up are held till then.
    m_seals = std::make_unique<sealing::ProgramSeals>(
        sealing::userKeyPath(), QStringLiteral("tkcontrol"),
        QString::fromLatin1(versionText).section(QLatin1Char(' '), -1), sealing::AuditClock{},
        choices.seal ? sealing::ProgramSeals::Opening::Deferred
                     : sealing::ProgramSeals::Opening::Never);
    // Without seals a finished recording stays as any file: writable.
    for (recording::RecordWriter* writer : m_recorder->writers())
        writer->setReadOnlyWhenFinished(choices.seal);
    m_savedSettings = auditedSettings();
    m_setpointAction = new SetpointAction(
        *this, *setp_box, *status_field, *m_session,
        [this](const QString& line) { seals().event(line); }, parametersButton->font());

    Data::setpointHistory.assign(Data::historySize, 0.0f);
    Data::measureHistory.assign(Data::historySize, 0.0f);
    Data::timeHistory.assign(Data::historySize, QString());

    // A recorder that holds the line serves this window instead of the port.
    const QString recorder = attach::recorderFolder(QCoreApplication::arguments());
    const bool attaching = !recorder.isEmpty() && attach::recorderRuns(recorder);
    Data::portConnected = false;
    if (!attaching)
        open_port();
    // A gateway that is being connected to is no failure: its state shows.
    const bool gatewayPending = m_session->onGateway() && m_session->gatewayRefused().isEmpty();
    if (!attaching && !Data::portConnected && !gatewayPending) {
        m_seams.showError(QLatin1String(appTitle),
                          QStringLiteral("Erreur pendant l'ouverture du port ") +
                              QString::number(Data::comPortNum),
                          portFailureDetail(serialPort().lastFailure(), presentDevices()));
    }

    Data::setpointRaw = Data::NO_DATA_RAW;
    setp_box->setText(QStringLiteral("888.8"));
    Data::measureRaw = Data::NO_DATA_RAW;
    meas_box->setText(QStringLiteral("888.8"));
    Data::powerRaw = 0;
    status_field->clear();

    for (int i = 0; i < Data::historySize; ++i) {
        Data::measureHistory[i] = Data::NO_DATA;
        Data::setpointHistory[i] = Data::NO_DATA;
    }

    Graph->setPersistentScale(110, 110);

    Data::historyIndex = 0;
    Data::recordingActive = 0;
    recording_field->setText(read.intervalRefused.isEmpty()
                                 ? QStringLiteral("Not recording")
                                 : QStringLiteral("Not recording: ") + read.intervalRefused +
                                       QStringLiteral("; a record every 20 s"));
    Data::recordTimerMs = Data::intervRecord * 1000;
    if (attaching)
        attachToRecorder(recorder);
    else
        m_session->start(tklink::ControllerSession::windowFirstPollMs,
                         tklink::ControllerSession::defaultRecordMs);
    // Not before: the start-up message box runs an event loop, and a tick
    // then would trace rings not yet set to no data.
    timerTraceCurves->start();
    // A window that is never painted (a hidden workspace) still opens its trail.
    QTimer::singleShot(openTrailLatestMs, this, [this] { seals(); });
}

void Form1::attachToRecorder(const QString& folder) {
    // The recorder records, marks, writes and keeps the alarms: the keys ask
    // it instead, and the session's alarms and writes are not the window's.
    disconnect(Start_stop_recording, &QAbstractButton::clicked, this, nullptr);
    disconnect(markEventButton, &QAbstractButton::clicked, this, nullptr);
    disconnect(m_session, &tklink::ControllerSession::alarmChanged, this, &Form1::showAlarms);
    disconnect(m_alarmBand, &AlarmBand::acknowledgeClicked, m_session, nullptr);
    disconnect(m_notifier, &AlarmNotifier::acknowledgeRequested, m_session, nullptr);
    if (m_setpointAction) {
        delete m_setpointAction->button();
        delete m_setpointAction;
        m_setpointAction = nullptr;
    }
    // The window's own bus, if conf.ini names one, is not shown: the strip
    // it fills is the recorder's now.
    delete m_busView;
    m_busView = nullptr;
    AttachedWidgets widgets{this,
                            status_field,
                            recording_field,
                            setp_box,
                            Start_stop_recording,
                            markEventButton,
                            shownName,
                            m_alarmBand,
                            m_tone,
                            parametersButton->font(),
                            m_seams.now,
                            [this](bool current) { showReadouts(current); },
                            [this](const QString& question) {
                                return QInputDialog::getText(this, windowTitleText, question);
                            },
                            [this](const QString& words) {
                                setWindowTitle(words.isEmpty() ? windowTitleText
                                                               : words + QStringLiteral(" – ") +
                                                                     windowTitleText);
                            },
                            [this] { display::traceRedraw(Graph->surface()); },
                            [this](int rows) { return placeStrip(rows); }};
    m_attached = new AttachedMode(folder, std::move(widgets), this);
}

ControllerStrip* Form1::placeStrip(int rows) {
    delete m_strip;
    m_strip = nullptr;
    m_panel = QImage();
    if (rows < 2) {
        setFixedSize(fitWindow(m_seams.screenRoom(), 0, 0).window);
        return nullptr;
    }
    // Under the panel, which keeps every control where it is.
    m_strip = new ControllerStrip(rows, this);
    const WindowFit fit =
        fitWindow(m_seams.screenRoom(), m_strip->fittingHeight(), m_strip->leastHeight());
    m_strip->setGeometry(Graph->x(), fit.stripTop, Graph->width(), fit.stripHeight);
    setFixedSize(fit.window);
    m_strip->show();
    // The panel's bezel goes round the strip.
    update();
    return m_strip;
}

void Form1::showAlarms(const alarms::AlarmChange& change) {
    const alarms::AlarmRules& rules = *m_session->alarmRules();
    m_alarmBand->showLook(alarms::bandLook(rules));
    const bool waiting = rules.unacknowledged();
    setWindowTitle(waiting ? QStringLiteral("ALARM – ") + windowTitleText : windowTitleText);
    m_tone->setRinging(waiting && Data::alarms.sound);
    seals().event(alarms::auditEvent(change, rules.status(change.alarm)));
    // A cleared alarm's notification says so, and waits for its acknowledgement.
    if (change.to == alarms::AlarmState::ActiveUnacknowledged ||
        change.to == alarms::AlarmState::ClearedUnacknowledged)
        m_notifier->notify(change.alarm,
                           QStringLiteral("ALARM – ") + alarms::alarmName(change.alarm),
                           alarms::bandText(change.alarm, rules.status(change.alarm)));
    else
        m_notifier->withdraw(change.alarm);
}

void Form1::followBus(bool onBus) {
    const settings::ControllersRead& bus = settings::configuredControllers();
    if (onBus) {
        m_session->setBus(bus.controllers, bus.timing);
        // Into the trail as tkrecord says it: once when the answering
        // controllers alone no longer fit in the poll interval, once when
        // they fit again.
        auto pace = std::make_shared<tklink::RoundPace>();
        connect(&m_session->bus(), &tklink::Bus::roundEnded, this,
                [this, pace](qint64 roundMs, int answering) {
                    const QString words =
                        pace->take(roundMs, answering, m_session->bus().timing().pollIntervalMs);
                    if (!words.isEmpty())
                        seals().event(words);
                });
    }
    shownName->setText(m_session->shownController().name());
    connect(m_session, &tklink::ControllerSession::shownControllerChanged, shownName,
            [this] { shownName->setText(m_session->shownController().name()); });
    if (m_session->controllers().size() > 1) {
        showBus();
        return;
    }
    tklink::Controller* shown = &m_session->shownController();
    // A [Controllers] section of one records in its folder, as tkrecord does.
    if (onBus)
        m_recorder->setChannels(
            {{shown->name(), [shown] {
                  const tklink::ControllerValues& v = shown->values();
                  return std::array<float, 3>{v.setpointRaw, v.measureRaw, v.powerRaw};
              }}});
    // The trace, the records and the read-outs take the shown controller's
    // values from Data.
    const auto copyValues = [shown] {
        Data::measureRaw = shown->values().measureRaw;
        Data::setpointRaw = shown->values().setpointRaw;
        Data::powerRaw = shown->values().powerRaw;
    };
    connect(shown, &tklink::Controller::status, status_field,
            [this](const tklink::LinkStatus& status) {
                status_field->setText(linkStatusText(status));
            });
    connect(shown, &tklink::Controller::answered, this, [this, copyValues] {
        copyValues();
        showReadouts(true);
    });
    connect(shown, &tklink::Controller::valuesCurrentChanged, this,
            [this, copyValues](bool current) {
                copyValues();
                if (!current)
                    showReadouts(false);
            });
    connect(shown, &tklink::Controller::pollEnded, this,
            [this] { m_seals->portState(Data::portConnected, serialPort().deviceName()); });
}

void Form1::showBus() {
    // The bus view speaks for every controller's alarms and the one shown.
    disconnect(m_session, &tklink::ControllerSession::alarmChanged, this, &Form1::showAlarms);
    disconnect(m_alarmBand, &AlarmBand::acknowledgeClicked, m_session, nullptr);
    disconnect(m_notifier, &AlarmNotifier::acknowledgeRequested, m_session, nullptr);
    placeStrip(int(m_session->controllers().size()));
    BusView::Hooks hooks;
    hooks.showReadouts = [this](bool current) { showReadouts(current); };
    hooks.showStatus = [this](const QString& text) { status_field->setText(text); };
    hooks.redrawTrace = [this] { display::traceRedraw(Graph->surface()); };
    hooks.setTitle = [this](const QString& words) {
        setWindowTitle(words + QStringLiteral(" – ") + windowTitleText);
    };
    hooks.auditEvent = [this](const QString& event) { seals().event(event); };
    hooks.polled = [this] { m_seals->portState(Data::portConnected, serialPort().deviceName()); };
    // Every controller recorded, each in its own folder.
    QList<recording::Recorder::Channel> channels;
    for (const tklink::Controller* c : m_session->controllers())
        channels.append({c->name(), [c] {
                             const tklink::ControllerValues& v = c->values();
                             return std::array<float, 3>{v.setpointRaw, v.measureRaw, v.powerRaw};
                         }});
    m_recorder->setChannels(std::move(channels));
    m_busView = new BusView(*m_session, *m_strip, *m_alarmBand, *m_tone, std::move(hooks), this);
}

sealing::ProgramSeals& Form1::seals() {
    if (!m_seals->isOpen()) {
        m_seals->open();
        for (recording::RecordWriter* writer : m_recorder->writers())
            m_seals->sealRecordsOf(*writer);
    }
    return *m_seals;
}

void Form1::showReadouts(bool current) {
    const auto [measured, setpoint] = readoutTexts(current);
    for (const auto& [box, text] : {std::pair{meas_box, measured}, std::pair{setp_box, setpoint}}) {
        box->setFont(fittedFont(m_readoutFont, text, m_readoutRoom));
        box->setText(text);
    }
}

// The serial devices there are, each with the port number that names it.
QStringList Form1::presentDevices() const {
    QStringList present;
    for (const QString& device : tklink::presentSerialDevices()) {
        QString entry = device;
        for (int n = 1; n <= tklink::scannedPorts; ++n) {
            if (m_seams.deviceForPort(n) == device) {
                entry += QStringLiteral(" (port %1)").arg(n);
                break;
            }
        }
        present << entry;
    }
    return present;
}

void Form1::traceCurves() {
    const QString time = display::traceTimeText(m_seams.now().time());
    if (m_busView)
        m_busView->storeSamples(time);
    if (m_attached)
        m_attached->storeSamples(time);
    display::traceTick(Graph->surface(), time);
}

void Form1::unload() {
    m_session->closePort();
    // Recording files are opened and closed around each record, so no file is
    // open here.
}

void Form1::closeEvent(QCloseEvent* event) {
    // The dialog works on this window's port: it goes with it, saving nothing,
    // as when its own close box is used.
    if (m_parameters)
        m_parameters->close();
    if (m_setpointAction && m_setpointAction->dialog())
        m_setpointAction->dialog()->close();
    if (m_attached && m_attached->setpointDialog())
        m_attached->setpointDialog()->close();
    // A setpoint write under way ends in the trail while it is still sealed.
    m_session->setpointWriter().abandon(QStringLiteral("the window was closed"));
    // Exit or SIGTERM ends a recording as its key does: a line in the trail,
    // the file read-only.
    m_recorder->stopRecording();
    unload();
    event->accept();
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The pixel ratio of what is painted on now: the window's image, or another
    // one when the window is rendered elsewhere.
    const qreal ratio = painter.paintEngine()->paintDevice()->devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (m_panel.isNull())
        QTimer::singleShot(0, this, [this] { seals(); });
    if (m_panel.size() != pixels || m_panel.devicePixelRatio() != ratio) {
        // The same format and resolution as the window's own image, so that
        // the copy holds the pixels a direct paint would have set.
        m_panel = QImage(pixels, QImage::Format_RGB32);
        m_panel.setDevicePixelRatio(ratio);
        m_panel.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
        m_panel.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
        QPainter art(&m_panel);
        art.setFont(font());
        const QRect meas = meas_box->geometry();
        const QRect setp = setp_box->geometry();
        QList<QRect> bezels{Graph->geometry(), meas, setp, status_field->geometry(),
                            recording_field->geometry()};
        if (m_strip)
            bezels << m_strip->geometry();
        paintPanelBackground(
            art, rect(), bezels,
            {{QRect(meas.left(), 12, meas.width(), 16), QStringLiteral("TEMPERATURE")},
             {QRect(setp.left(), 12, setp.width(), 16), QStringLiteral("SETPOINT")},
             {QRect(110, 40, 300, 40), QStringLiteral("TK840 / TK960"), 15,
              Qt::AlignLeft | Qt::AlignVCenter},
             {QRect(setp.right() + 10, setp.top(), 40, setp.height()), QStringLiteral("°C"), 15,
              Qt::AlignLeft | Qt::AlignVCenter}});
    }
    // The paint event's clip limits the copy to the part being repainted.
    painter.drawImage(QPointF(0, 0), m_panel);
}

} // namespace app
