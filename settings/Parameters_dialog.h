#pragma once

// The Parameters dialog: port and speed, seconds between two records, and
// the graph's temperature range and time scale. Each group's "Apply" puts its
// entries into the program-wide variables; "Close" saves the settings file
// and closes the dialog. Modeless: the main window keeps working meanwhile.

#include <QDialog>

#include <functional>
#include <optional>

#include "GatewayLine.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tklink {
class ControllerSearch;
class GatewaySearch;
struct GatewaySearchOutcome;
struct SearchDevice;
struct SearchOutcome;
} // namespace tklink

namespace settings {

class Parameters_dialog : public QDialog {
    Q_OBJECT

public:
    struct Actions {
        // Reopens the serial port with Data::comPortNum and Data::comPortSpeed
        // and sets Data::portConnected (the main window's open_port). Returns
        // why it failed, for the operator; empty when the port opened.
        std::function<QString()> openPort;
        // The device a port number names, shown as the tool tip of its entry.
        std::function<QString(int portNumber)> deviceForPort;
        // Where "Close" saves the settings; empty means conf.ini.
        QString settingsPath;
        // Closes the polled port for "Find controller", which reopens it
        // with openPort when the search ends, whatever the outcome. Without
        // it nothing is closed or reopened.
        std::function<void()> releasePort;
        // The alarms dialog changed Data::alarms.
        std::function<void()> alarmsChanged;
        // Set when another program owns the line (the recorder the window is
        // attached to): its device and speed are shown, not editable, and
        // nothing of the port, the records or the alarms changes here; words
        // say why.
        struct LineOwner {
            QString device;
            QString speed;
            QString words;
        };
        std::optional<LineOwner> lineOwner;
    };

    // Builds the dialog and runs its Load step. It deletes itself when closed.
    explicit Parameters_dialog(Actions actions, QWidget* parent = nullptr);
    ~Parameters_dialog() override;

    // The connection to the gateway the port names went to another state;
    // reason: why it was lost. Shown while the dialog tells of that gateway.
    void showGatewayState(tklink::GatewayLine::State state, const QString& reason);

Q_SIGNALS:
    // "Close" saved the settings file; the variables hold what it holds.
    void saved();

private:
    void createControls();
    void load();
    void applySerialPort();
    void applyGateway(const QString& gateway);
    void applyRecordInterval();
    void applyGraph();
    void closeAndSave();
    void showAlarms();
    void refuse(const QString& text);
    void showLineOwner(const Actions::LineOwner& owner);
    QString entryName(const QLineEdit* box) const;
    void findController();
    void showSearchProgress(const tklink::SearchDevice& device, qint32 speed, int number,
                            int total);
    void searchEnded(const tklink::SearchOutcome& outcome);
    // "Find controller" where the port names a gateway: no device or speed
    // to find, only the addresses that answer behind it.
    void findBehindGateway(const tklink::GatewayAddress& gateway);
    void gatewaySearchEnded(const tklink::GatewaySearchOutcome& outcome, const QString& gateway);
    // The search behind a gateway ended or was stopped: the polled port back.
    void endGatewaySearch();
    void showTries(const QStringList& lines);
    // The gateway port number names, as the operator reads it; empty when
    // it names a serial device.
    QString gatewayText(int portNumber) const;
    // The device or gateway address a port number names, as written.
    QString portDevice(int portNumber) const;
    void showReason(const QString& reason);
    void showGatewayInfo(const QString& text);

    // Where the controller answered, addresses 1 to this are asked.
    static constexpr int listedAddresses = 32;

    Actions m_actions;
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QLabel* portInfoLabel = nullptr;
    QLabel* portReasonLabel = nullptr;
    QLabel* refusedLabel = nullptr;
    QLineEdit* min_box = nullptr;
    QLineEdit* max_box = nullptr;
    QLineEdit* temps_box = nullptr;
    QPushButton* applySerialPortButton = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Apply = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* findButton = nullptr;
    // What the last search tried, shown below the rest when it found nothing;
    // when it found the controller, the addresses answering on its line.
    QLabel* triesLabel = nullptr;
    tklink::ControllerSearch* m_search = nullptr;
    // While a search behind a gateway runs.
    tklink::GatewaySearch* m_gatewaySearch = nullptr;
    int m_gatewayTries = 0;
    // The port whose gateway portInfoLabel tells of, 0 when none.
    int m_gatewayPort = 0;
    QPushButton* alarmsButton = nullptr;
};

} // namespace settings
