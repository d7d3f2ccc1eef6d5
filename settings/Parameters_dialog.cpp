#include "Parameters_dialog.h"

#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>

#include <algorithm>
#include <cmath>
#include <optional>

#include "Alarms_dialog.h"
#include "AnswerFrame.h"
#include "AppInfo.h"
#include "ControllerSearch.h"
#include "Data.h"
#include "GatewayAddress.h"
#include "GatewaySearch.h"
#include "NumberText.h"
#include "PortsSection.h"
#include "SearchDevices.h"
#include "SearchText.h"
#include "Settings.h"
#include "TextFormats.h"

namespace settings {

namespace {

// Entries are read in the operator's regional number format.
std::optional<int16_t> readWholeNumber(const QString& text) {
    const auto value = readGeneralNumber(text);
    return value ? roundToInt16(*value) : std::nullopt;
}

std::optional<float> readNumber(const QString& text) {
    const auto value = readGeneralNumber(text);
    if (!value || !std::isfinite(static_cast<float>(*value)))
        return std::nullopt;
    return static_cast<float>(*value);
}

// Every entry of a list shows whole, "115200" in 57 pixels among them: where
// the system's font is wider than Verdana, the list's type is made smaller
// until the widest entry fits. A line edit keeps 2 pixels each side and one
// for the cursor; an entry wider than that is scrolled and shows cut.
void fitWidestEntry(QComboBox* list) {
    list->ensurePolished();
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = true;
    option.frame = list->hasFrame();
    const int room =
        list->style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
            .width() -
        5;
    QFont font = list->font();
    const auto widest = [&] {
        int width = QFontMetrics(font).horizontalAdvance(list->currentText());
        for (int i = 0; i < list->count(); ++i)
            width = std::max(width, QFontMetrics(font).horizontalAdvance(list->itemText(i)));
        return width;
    };
    while (widest() > room && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    list->setFont(font);
    // The style sheet keeps the edit field on the application's font.
    list->lineEdit()->setFont(font);
}

} // namespace

Parameters_dialog::Parameters_dialog(Actions actions, QWidget* parent)
    : QDialog(parent), m_actions(std::move(actions)) {
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    load();
}

Parameters_dialog::~Parameters_dialog() {
    // Closed during a search: the polled port comes back all the same.
    if (m_gatewaySearch) {
        delete m_gatewaySearch;
        if (m_actions.releasePort && m_actions.openPort)
            m_actions.openPort();
    }
    if (m_search && m_search->running()) {
        m_search->disconnect(this);
        m_search->cancel();
        if (m_actions.releasePort && m_actions.openPort)
            m_actions.openPort();
    }
}

// The dialog's height without the list of tries.
constexpr int dialogHeight = 251;

void Parameters_dialog::createControls() {
    setObjectName(QStringLiteral("Parameters_dialog"));
    setWindowTitle(QStringLiteral("Parameters"));
    setWindowIcon(QIcon(QLatin1String(windowIconFile)));
    setFixedSize(529, dialogHeight);
    setModal(false);

    QFont verdana(QStringLiteral("Verdana"));
    verdana.setPointSizeF(8.25);
    QFont bold = verdana;
    bold.setBold(true);

    const auto label = [&](const char* name, const QString& text, const QRect& place,
                           const QFont& font) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(place);
        l->setFont(font);
        return l;
    };
    const auto button = [&](const char* name, const QRect& place, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(place);
        b->setFont(verdana);
        b->setAutoDefault(false);
        return b;
    };
    const auto list = [&](const char* name, const QRect& place) {
        auto* c = new QComboBox(this);
        c->setObjectName(QLatin1String(name));
        c->setGeometry(place);
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        // No completion: "2" typed must stay 2, not become 240 from the list.
        c->setCompleter(nullptr);
        c->setFont(verdana);
        // The lists are narrow: a slim arrow leaves room for "115200".
        c->setStyleSheet(QStringLiteral("QComboBox { padding-left: 0px; padding-right: 0px; }"
                                        "QComboBox::drop-down { width: 11px; }"));
        return c;
    };
    const auto box = [&](const char* name, const QRect& place) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(place);
        e->setFont(verdana);
        return e;
    };

    label("Label1", QStringLiteral("Serial Port Com"), QRect(8, 16, 129, 17), bold);
    Combo1 = list("Combo1", QRect(136, 16, 57, 24));
    label("Label2", QStringLiteral("Serial Port Speed"), QRect(208, 16, 129, 17), bold);
    Combo2 = list("Combo2", QRect(360, 16, 57, 24));
    applySerialPortButton =
        button("applySerialPortButton", QRect(440, 16, 73, 25), QStringLiteral("Apply"));
    portInfoLabel =
        label("portInfoLabel", QStringLiteral("Label2"), QRect(8, 48, 337, 17), verdana);
    // Why the port did not open, where it is read without hovering.
    portReasonLabel = label("portReasonLabel", QString(), QRect(8, 63, 513, 16), verdana);

    label("Label5", QStringLiteral("Time between 2 records (seconds)"), QRect(8, 80, 281, 25),
          bold);
    Combo3 = list("Combo3", QRect(360, 80, 57, 24));
    Command3 = button("Command3", QRect(440, 80, 73, 25), QStringLiteral("Apply"));

    label("Graphique", QStringLiteral("Graphic"), QRect(8, 120, 81, 25), bold);
    label("Min_label", QStringLiteral("Temperature scale Minimum"), QRect(144, 120, 201, 17),
          verdana);
    min_box = box("min_box", QRect(344, 120, 73, 23));
    label("max_label", QStringLiteral("Temperature scale Maximum"), QRect(144, 144, 201, 25),
          verdana);
    max_box = box("max_box", QRect(344, 144, 73, 23));
    Apply = button("Apply", QRect(440, 144, 73, 25), QStringLiteral("Apply"));
    QLabel* scaleLabel =
        label("Label3", QStringLiteral("Time scale"), QRect(144, 168, 193, 25), verdana);
    temps_box = box("temps_box", QRect(344, 168, 73, 23));
    const QString scaleTip =
        QStringLiteral("Samples across the graph, one every 2.5 s: 10 shows 25 s, 1440 one hour");
    scaleLabel->setToolTip(scaleTip);
    temps_box->setToolTip(scaleTip);

    OKButton = button("OKButton", QRect(216, 208, 73, 33), QStringLiteral("Close"));
    // Room is left between it and "Close" for one more button.
    findButton = button("findButton", QRect(8, 208, 105, 33), QStringLiteral("Find controller"));
    findButton->setToolTip(
        QStringLiteral("Try every serial port at every usual speed and fill in the one where "
                       "the controller answers"));
    triesLabel = label("triesLabel", QString(), QRect(8, dialogHeight, 513, 0), verdana);
    triesLabel->setWordWrap(true);
    triesLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The [Controllers] lines it shows are there to be copied into conf.ini.
    triesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    triesLabel->hide();
    alarmsButton = button("alarmsButton", QRect(128, 208, 81, 33), QStringLiteral("Alarms…"));

    // Says which entry was refused; empty until one is.
    refusedLabel = label("refusedLabel", QString(), QRect(300, 204, 221, 40), verdana);
    refusedLabel->setWordWrap(true);
    QPalette warning = refusedLabel->palette();
    warning.setColor(QPalette::WindowText, QColor(170, 0, 0));
    refusedLabel->setPalette(warning);
    portReasonLabel->setPalette(warning);

    connect(applySerialPortButton, &QPushButton::clicked, this,
            &Parameters_dialog::applySerialPort);
    connect(Command3, &QPushButton::clicked, this, &Parameters_dialog::applyRecordInterval);
    connect(Apply, &QPushButton::clicked, this, &Parameters_dialog::applyGraph);
    connect(alarmsButton, &QPushButton::clicked, this, &Parameters_dialog::showAlarms);
    connect(OKButton, &QPushButton::clicked, this, &Parameters_dialog::closeAndSave);
    connect(findButton, &QPushButton::clicked, this, &Parameters_dialog::findController);
}

void Parameters_dialog::load() {
    portInfoLabel->clear();
    portReasonLabel->clear();
    for (int n = 1; n <= 30; ++n) {
        if (n >= int(Data::portAvailable.size()) || !Data::portAvailable[n])
            continue;
        Combo1->addItem(QString::number(n));
        if (m_actions.deviceForPort)
            Combo1->setItemData(Combo1->count() - 1, m_actions.deviceForPort(n), Qt::ToolTipRole);
    }
    Combo1->setEditText(QString::number(Data::comPortNum));
    // A gateway is shown by its address: its number says nothing of it.
    if (const QString gateway = gatewayText(Data::comPortNum); !gateway.isEmpty()) {
        m_gatewayPort = Data::comPortNum;
        showGatewayInfo(QStringLiteral("Port %1 is the gateway %2: %3")
                            .arg(Data::comPortNum)
                            .arg(gateway, Data::portConnected ? QStringLiteral("connected")
                                                              : QStringLiteral("not connected")));
        Combo1->setToolTip(gateway);
    }
    Combo2->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("115200")});
    Combo2->setEditText(Data::comPortSpeed);
    Combo3->addItems({QStringLiteral("10"), QStringLiteral("30"), QStringLiteral("60"),
                      QStringLiteral("120"), QStringLiteral("240")});
    Combo3->setEditText(QString::number(Data::intervRecord));
    for (QComboBox* list : {Combo1, Combo2, Combo3})
        fitWidestEntry(list);
    min_box->setText(generalNumber(Data::yValueMin));
    max_box->setText(generalNumber(Data::yValueMax));
    temps_box->setText(generalNumber(Data::timeScale));
    if (m_actions.lineOwner)
        showLineOwner(*m_actions.lineOwner);
}

// The line is another program's: shown as it has it, and left alone; the
// graph's rows stay this window's.
void Parameters_dialog::showLineOwner(const Actions::LineOwner& owner) {
    Combo1->setEditText(owner.device);
    Combo2->setEditText(owner.speed);
    for (QWidget* control : std::initializer_list<QWidget*>{
             Combo1, Combo2, applySerialPortButton, Combo3, Command3, findButton, alarmsButton})
        control->setEnabled(false);
    portInfoLabel->setText(QStringLiteral("Set by the recorder, not here"));
    portReasonLabel->setText(portReasonLabel->fontMetrics().elidedText(owner.words, Qt::ElideRight,
                                                                       portReasonLabel->width()));
    portReasonLabel->setToolTip(owner.words);
}

void Parameters_dialog::refuse(const QString& text) {
    refusedLabel->setText(text);
}

void Parameters_dialog::applySerialPort() {
    refusedLabel->clear();
    const auto number = readWholeNumber(Combo1->currentText());
    if (!number) {
        portInfoLabel->setText(QStringLiteral("Port number \"%1\" refused: not a whole number")
                                   .arg(Combo1->currentText()));
        Combo1->setEditText(QString::number(Data::comPortNum));
        return;
    }
    Data::comPortNum = *number;
    Data::comPortSpeed = Combo2->currentText();
    const QString port = QString::number(Data::comPortNum);
    if (const QString gateway = gatewayText(Data::comPortNum); !gateway.isEmpty()) {
        applyGateway(gateway);
        return;
    }
    m_gatewayPort = 0;
    Combo1->setToolTip(QString());
    portInfoLabel->setToolTip(QString());
    portInfoLabel->setText(QStringLiteral("Try to connect to serial port ") + port +
                           QStringLiteral(" speed ") + Data::comPortSpeed);
    showReason({});
    Data::portConnected = false;
    if (m_actions.openPort)
        showReason(m_actions.openPort());
    if (Data::portConnected) {
        portInfoLabel->setText(QStringLiteral("Connected to serial port ") + port +
                               QStringLiteral(" speed ") + Data::comPortSpeed);
    } else {
        portInfoLabel->setText(QStringLiteral("Connection to serial port ") + port +
                               QStringLiteral(" speed ") + Data::comPortSpeed +
                               QStringLiteral(" failed."));
    }
}

// A gateway connects in the background: "Apply" starts the connection, and
// its states are told as they come (showGatewayState).
void Parameters_dialog::applyGateway(const QString& gateway) {
    const QString where = QStringLiteral("gateway %1 (port %2)").arg(gateway).arg(Data::comPortNum);
    showGatewayInfo(QStringLiteral("Try to connect to ") + where);
    Combo1->setToolTip(gateway);
    showReason({});
    Data::portConnected = false;
    const QString reason = m_actions.openPort ? m_actions.openPort() : QString();
    showReason(reason);
    m_gatewayPort = reason.isEmpty() ? Data::comPortNum : 0;
    if (Data::portConnected)
        showGatewayInfo(QStringLiteral("Connected to ") + where);
    else if (reason.isEmpty())
        showGatewayInfo(QStringLiteral("Connecting to ") + where + QStringLiteral("..."));
    else
        showGatewayInfo(QStringLiteral("Connection to ") + where + QStringLiteral(" failed."));
}

void Parameters_dialog::showGatewayState(tklink::GatewayLine::State state, const QString& reason) {
    if (m_gatewayPort == 0 || m_gatewayPort != Data::comPortNum)
        return;
    const QString where =
        QStringLiteral("gateway %1 (port %2)").arg(gatewayText(m_gatewayPort)).arg(m_gatewayPort);
    switch (state) {
    case tklink::GatewayLine::State::Connected:
        showGatewayInfo(QStringLiteral("Connected to ") + where);
        showReason({});
        break;
    case tklink::GatewayLine::State::Connecting:
        showGatewayInfo(QStringLiteral("Connecting to ") + where + QStringLiteral("..."));
        break;
    case tklink::GatewayLine::State::NotConnected:
        showGatewayInfo(QStringLiteral("Not connected to ") + where +
                        QStringLiteral(": trying again"));
        showReason(reason);
        break;
    }
}

QString Parameters_dialog::portDevice(int portNumber) const {
    return m_actions.deviceForPort ? m_actions.deviceForPort(portNumber)
                                   : configuredDevice(portNumber);
}

QString Parameters_dialog::gatewayText(int portNumber) const {
    const QString device = portDevice(portNumber);
    if (!tklink::namesGateway(device))
        return {};
    // A badly written one as written: the reason says what is wrong.
    const tklink::GatewayParse parsed = tklink::parseGatewayAddress(device);
    return parsed.address ? parsed.address->text() : device.trimmed();
}

// A long host name would run past the label: its middle gives way, and the
// whole text is the tool tip.
void Parameters_dialog::showGatewayInfo(const QString& text) {
    portInfoLabel->setText(
        portInfoLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, portInfoLabel->width()));
    portInfoLabel->setToolTip(text);
}

// Read without hovering; a reason too long for the line ends in "..." and
// shows whole as the tool tip.
void Parameters_dialog::showReason(const QString& reason) {
    portReasonLabel->setText(portReasonLabel->fontMetrics().elidedText(reason, Qt::ElideRight,
                                                                       portReasonLabel->width()));
    portReasonLabel->setToolTip(reason);
}

void Parameters_dialog::applyRecordInterval() {
    refusedLabel->clear();
    const auto seconds = readWholeNumber(Combo3->currentText());
    if (!seconds) {
        refuse(QStringLiteral("Time between 2 records refused: \"%1\" is not a whole number")
                   .arg(Combo3->currentText()));
        Combo3->setEditText(QString::number(Data::intervRecord));
        return;
    }
    Data::intervRecord = *seconds;
}

void Parameters_dialog::applyGraph() {
    refusedLabel->clear();
    struct Entry {
        QLineEdit* box;
        float* variable;
    };
    const Entry entries[] = {
        {min_box, &Data::yValueMin}, {max_box, &Data::yValueMax}, {temps_box, &Data::timeScale}};
    QStringList refused;
    for (const Entry& entry : entries) {
        if (const auto value = readNumber(entry.box->text())) {
            *entry.variable = *value;
        } else {
            refused << entryName(entry.box);
            entry.box->setText(generalNumber(*entry.variable));
        }
    }
    if (!refused.isEmpty())
        refuse(refused.join(QStringLiteral(", ")) + QStringLiteral(" refused: not a number"));
}

QString Parameters_dialog::entryName(const QLineEdit* box) const {
    if (box == min_box)
        return QStringLiteral("Minimum");
    if (box == max_box)
        return QStringLiteral("Maximum");
    return QStringLiteral("Time scale");
}

void Parameters_dialog::findController() {
    if (m_search && m_search->running()) {
        m_search->cancel();
        return;
    }
    if (m_gatewaySearch) {
        delete m_gatewaySearch;
        endGatewaySearch();
        portInfoLabel->setText(QStringLiteral("Search stopped after %1 tries").arg(m_gatewayTries));
        return;
    }
    showTries({});
    showReason({});
    if (const QString device = portDevice(Data::comPortNum); tklink::namesGateway(device)) {
        const tklink::GatewayParse parsed = tklink::parseGatewayAddress(device);
        if (parsed.address) {
            findBehindGateway(*parsed.address);
        } else {
            portInfoLabel->setText(
                QStringLiteral("Port %1 names no gateway that can be asked").arg(Data::comPortNum));
            showReason(parsed.error);
        }
        return;
    }
    const auto deviceForPort =
        m_actions.deviceForPort
            ? m_actions.deviceForPort
            : std::function<QString(int)>([](int n) { return configuredDevice(n); });
    delete m_search;
    const tklink::SearchAddresses addresses =
        tklink::searchAddresses(configuredAddresses(), listedAddresses);
    m_search =
        new tklink::ControllerSearch(searchDevices(Data::comPortNum, deviceForPort),
                                     tklink::searchSpeeds(Data::comPortSpeed), addresses, this);
    connect(m_search, &tklink::ControllerSearch::trying, this,
            &Parameters_dialog::showSearchProgress);
    connect(m_search, &tklink::ControllerSearch::askingOthers, this, [this, addresses] {
        showTries({QStringLiteral("No answer at address %1: asking the other addresses")
                       .arg(addresses.first)});
    });
    // Each device and speed the other addresses are asked at, as in
    // "tkrecord --probe".
    connect(m_search, &tklink::ControllerSearch::sweeping, this,
            [this](const tklink::SearchDevice& device, qint32 speed, int count) {
                showTries(triesLabel->text().split(QLatin1Char('\n'))
                          << sweepLine(device, speed, count));
            });
    connect(m_search, &tklink::ControllerSearch::listing, this, [this](int address, int last) {
        portInfoLabel->setText(QStringLiteral("Controller found; asking address %1 of 1 to %2")
                                   .arg(address)
                                   .arg(last));
    });
    connect(m_search, &tklink::ControllerSearch::finished, this, &Parameters_dialog::searchEnded);
    // The polled port is one of the devices tried: it would count as held.
    if (m_actions.releasePort)
        m_actions.releasePort();
    applySerialPortButton->setEnabled(false);
    findButton->setText(QStringLiteral("Stop search"));
    portInfoLabel->setText(QStringLiteral("Searching for the controller..."));
    m_gatewayPort = 0;
    m_search->start();
}

void Parameters_dialog::findBehindGateway(const tklink::GatewayAddress& gateway) {
    const QList<uint8_t> addresses = gatewaySearchAddresses(listedAddresses);
    const QString where = gateway.text();
    m_gatewayTries = 0;
    m_gatewaySearch = new tklink::GatewaySearch(gateway, addresses, gatewaySearchTimeoutMs(), this);
    connect(m_gatewaySearch, &tklink::GatewaySearch::tried, this, [this, total = addresses.size()] {
        ++m_gatewayTries;
        portInfoLabel->setText(QStringLiteral("Asking the addresses behind the gateway "
                                              "(%1/%2)")
                                   .arg(m_gatewayTries)
                                   .arg(total));
    });
    connect(m_gatewaySearch, &tklink::GatewaySearch::finished, this,
            [this, where](const tklink::GatewaySearchOutcome& outcome) {
                m_gatewaySearch->deleteLater();
                endGatewaySearch();
                gatewaySearchEnded(outcome, where);
            });
    // One master on the line behind it: the poll's connection is closed
    // meanwhile, as a serial port is.
    m_gatewayPort = 0;
    if (m_actions.releasePort)
        m_actions.releasePort();
    applySerialPortButton->setEnabled(false);
    findButton->setText(QStringLiteral("Stop search"));
    showTries({QStringLiteral("Port %1 is the gateway %2: no serial port or speed to search; "
                              "asking %3 addresses there")
                   .arg(Data::comPortNum)
                   .arg(where)
                   .arg(addresses.size())});
    showGatewayInfo(QStringLiteral("Connecting to the gateway ") + where + QStringLiteral("..."));
    m_gatewaySearch->start();
}

void Parameters_dialog::endGatewaySearch() {
    m_gatewaySearch = nullptr;
    if (m_actions.releasePort && m_actions.openPort)
        m_actions.openPort();
    applySerialPortButton->setEnabled(true);
    findButton->setText(QStringLiteral("Find controller"));
}

void Parameters_dialog::gatewaySearchEnded(const tklink::GatewaySearchOutcome& outcome,
                                           const QString& gateway) {
    QStringList lines = triesLabel->text().split(QLatin1Char('\n'));
    if (!outcome.connected) {
        showGatewayInfo(QStringLiteral("Cannot connect to the gateway ") + gateway);
        showReason(outcome.failure);
        showTries(lines);
        return;
    }
    const QString missing = gatewayMissingText(outcome.tries, gatewaySearchTimeoutMs());
    if (!missing.isEmpty())
        lines << missing;
    if (!outcome.failure.isEmpty())
        showReason(outcome.failure);
    if (outcome.answering.isEmpty()) {
        showGatewayInfo(QStringLiteral("No controller answers behind the gateway ") + gateway);
        showTries(lines);
        return;
    }
    QList<int> answering = outcome.answering;
    std::sort(answering.begin(), answering.end());
    showGatewayInfo(QStringLiteral("%1 of %2 addresses answer behind the gateway")
                        .arg(answering.size())
                        .arg(outcome.tries.size()));
    lines << answeringText(answering, listedAddresses,
                           QStringLiteral("behind the gateway ") + gateway) +
                 QStringLiteral("; conf.ini lines:")
          << controllersLines(answering);
    showTries(lines);
}

void Parameters_dialog::showSearchProgress(const tklink::SearchDevice& device, qint32 speed,
                                           int number, int total) {
    const QString text = QStringLiteral("Trying %1 at %2 bit/s (%3/%4)")
                             .arg(searchDeviceText(device))
                             .arg(speed)
                             .arg(number)
                             .arg(total);
    portInfoLabel->setText(
        portInfoLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, portInfoLabel->width()));
}

void Parameters_dialog::searchEnded(const tklink::SearchOutcome& outcome) {
    if (m_actions.releasePort && m_actions.openPort)
        m_actions.openPort();
    applySerialPortButton->setEnabled(true);
    findButton->setText(QStringLiteral("Find controller"));
    if (outcome.cancelled) {
        portInfoLabel->setText(
            QStringLiteral("Search stopped after %1 tries").arg(outcome.tries.size()));
        return;
    }
    if (!outcome.found) {
        portInfoLabel->setText(QStringLiteral("No controller found: %1 tries in %2 s")
                                   .arg(outcome.tries.size())
                                   .arg(double(outcome.elapsedMs) / 1000.0, 0, 'f', 1));
        QStringList lines = searchFailureLines(outcome.tries);
        if (lines.isEmpty())
            lines << QStringLiteral("No serial device is present.");
        showTries(lines);
        return;
    }
    // As if typed: nothing is in force before "Apply", nor saved before "Close".
    Combo1->setEditText(QString::number(outcome.device.portNumber));
    Combo2->setEditText(QString::number(outcome.speed));
    portInfoLabel->setText(
        QStringLiteral("Controller found on port %1 at %2 bit/s: \"Apply\" to use it")
            .arg(outcome.device.portNumber)
            .arg(outcome.speed));
    // What shares its line, ready to be copied into conf.ini; a lone
    // controller at 9 needs no [Controllers] section.
    const bool bus = !configuredAddresses().isEmpty();
    const bool lone = outcome.answering == QList<int>{tklink::controllerAddress};
    showTries(bus || !lone ? QStringList{answeringText(outcome.answering, listedAddresses) +
                                         QStringLiteral("; conf.ini lines:")} +
                                 controllersLines(outcome.answering)
                           : QStringList{});
    if (!bus && outcome.address != tklink::controllerAddress)
        portInfoLabel->setText(
            QStringLiteral("Found at address %1, port %2, %3 bit/s: add lines below")
                .arg(outcome.address)
                .arg(outcome.device.portNumber)
                .arg(outcome.speed));
    if (!outcome.device.named) {
        const QString line = QStringLiteral("[Ports] %1=%2")
                                 .arg(outcome.device.portNumber)
                                 .arg(outcome.device.device);
        const QString text =
            outcome.device.device +
            QStringLiteral(" has no port number: add %1 to conf.ini first").arg(line);
        portReasonLabel->setText(portReasonLabel->fontMetrics().elidedText(
            text, Qt::ElideMiddle, portReasonLabel->width()));
        portReasonLabel->setToolTip(text);
    }
}

void Parameters_dialog::showTries(const QStringList& lines) {
    triesLabel->setText(lines.join(QLatin1Char('\n')));
    const int height = lines.isEmpty() ? 0 : triesLabel->heightForWidth(triesLabel->width()) + 8;
    triesLabel->setGeometry(8, dialogHeight, 513, height);
    triesLabel->setVisible(!lines.isEmpty());
    setFixedSize(529, dialogHeight + height);
}

void Parameters_dialog::showAlarms() {
    Alarms_dialog alarms(this);
    if (alarms.exec() == QDialog::Accepted && m_actions.alarmsChanged)
        m_actions.alarmsChanged();
}

void Parameters_dialog::closeAndSave() {
    refusedLabel->clear();
    // Every entry "Close" takes is checked before anything is saved: a
    // refusal written into a dialog that closes would never be read.
    for (QLineEdit* box : {min_box, max_box, temps_box}) {
        if (!readNumber(box->text())) {
            refuse(QStringLiteral("Not saved: %1 \"%2\" is not a number")
                       .arg(entryName(box), box->text()));
            box->setFocus();
            return;
        }
    }
    Data::recordTimerMs = int32_t(Data::intervRecord) * 1000;
    const QString path =
        m_actions.settingsPath.isEmpty() ? QLatin1String(settingsFileName) : m_actions.settingsPath;
    const ProfileWrite saved = saveSettings(QLatin1String(appTitle), path);
    // Told before the graph boxes are taken: what the file now holds, not
    // the values that "Close" puts in force without saving them.
    if (saved)
        Q_EMIT this->saved();
    applyGraph();
    if (!saved) {
        // The values stay in force for this run; the close box still closes.
        refuse(QStringLiteral("Not saved: ") + saved.reason);
        return;
    }
    close();
}

} // namespace settings
