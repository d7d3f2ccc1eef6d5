#pragma once

// The program's serial-port control: one port, chosen by number, over
// QSerialPort. It offers exactly what the controller link uses: open and close
// by number with a line-settings text, counts and discards of buffered bytes,
// reads of a set input length, a byte-array write and a receive event on the
// user-interface thread. Failures are results, never messages.

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <functional>

namespace tklink {

// Why the last open, or the setting before it, failed: the device tried and
// the system's own words for the reason. Callers choose what to tell the
// operator.
struct OpenFailure {
    enum class Kind {
        None,             // the last open succeeded, or none failed yet
        NoDevice,         // the port number names no device
        NotFound,         // the device it names is not there
        PermissionDenied, // the user may not use the device
        Busy,             // another program holds the device
        SettingsRefused,  // the line settings text was refused
        Other,
    };
    Kind kind = Kind::None;
    int portNumber = 0;
    QString device;       // as named by the resolver; empty for NoDevice
    QString systemText;   // "Permission denied"; the refused text for SettingsRefused
    qint64 holderPid = 0; // for Busy: the PID in the device's lock file, if any
};

class SerialPortControl : public QObject {
    Q_OBJECT

public:
    // Event code of the receive event: received bytes are waiting.
    static constexpr int16_t comEvReceive = 2;

    // Names the device of a port number ("/dev/ttyUSB0", "COM3"); an empty
    // name means the number names no device.
    using DeviceResolver = std::function<QString(int portNumber)>;

    explicit SerialPortControl(DeviceResolver resolver, QObject* parent = nullptr);
    ~SerialPortControl() override;

    // Selects the port of the next open. Fails while the port is open and for
    // numbers below 1.
    bool setCommPort(int16_t number);
    int16_t commPort() const { return m_portNumber; }

    // "speed,parity,data bits,stop bits", for example "19200,n,8,1". Fails for
    // a text that does not say a positive speed and a valid framing.
    bool setSettings(const QString& settings);
    // The speed of the last settings taken, in bit/s.
    qint32 baudRate() const { return m_baudRate; }

    // How many bytes one input() delivers; 0 delivers all waiting bytes.
    bool setInputLen(int16_t length);
    // Receive events are raised while this is above 0.
    bool setRThreshold(int16_t threshold);

    bool portOpen() const { return m_port.isOpen(); }
    // true opens the selected port with the current settings; false closes it.
    // Opening an open port or closing a closed one fails.
    bool setPortOpen(bool open);

    // The device the selected port number names now (may be empty).
    QString deviceName() const;
    // Why the last open failed or the open port was lost, for a log line.
    QString failureReason() const { return m_failureReason; }

    // The reason of the last failed open or refused setting; kind None after
    // a successful open.
    const OpenFailure& lastFailure() const { return m_failure; }

    int inBufferCount() const;
    bool clearInBuffer();
    bool clearOutBuffer();
    QByteArray input();
    bool output(const QByteArray& bytes);
    int16_t commEvent() const { return m_commEvent; }

Q_SIGNALS:
    // The receive event: bytes are waiting and commEvent() is comEvReceive.
    void comm();
    // The open port's device failed or went away (unplugged adapter, hang-up
    // of a pseudo-terminal, refused write). The port has been closed already;
    // this is reported once per open.
    void deviceLost();

private:
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void loseDevice();
    bool fail(OpenFailure::Kind kind, const QString& device, const QString& systemText);
    bool fail(OpenFailure::Kind kind, int portNumber, const QString& device,
              const QString& systemText);
    OpenFailure::Kind openErrorKind(const QString& target) const;

    QSerialPort m_port;
    DeviceResolver m_resolver;
    int16_t m_portNumber = 1;
    qint32 m_baudRate = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    int16_t m_inputLen = 0;
    int16_t m_rThreshold = 0;
    int16_t m_commEvent = 0;
    OpenFailure m_failure;
    QString m_failureReason;
};

} // namespace tklink
