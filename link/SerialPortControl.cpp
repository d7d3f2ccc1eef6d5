#include "SerialPortControl.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringList>

#include "SerialLockHolder.h"

#include <cerrno>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcSerial, "tk.link.serial", QtWarningMsg)

namespace tklink {

SerialPortControl::SerialPortControl(DeviceResolver resolver, QObject* parent)
    : QObject(parent), m_resolver(std::move(resolver)) {
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPortControl::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPortControl::onErrorOccurred);
}

SerialPortControl::~SerialPortControl() = default;

bool SerialPortControl::fail(OpenFailure::Kind kind, const QString& device,
                             const QString& systemText) {
    return fail(kind, m_portNumber, device, systemText);
}

bool SerialPortControl::fail(OpenFailure::Kind kind, int portNumber, const QString& device,
                             const QString& systemText) {
    m_failure = {kind, portNumber, device, systemText,
                 kind == OpenFailure::Kind::Busy ? serialLockHolder(device) : 0};
    if (kind == OpenFailure::Kind::Busy)
        m_failureReason = device + QStringLiteral(": ") + heldByText(m_failure.holderPid);
    else if (kind == OpenFailure::Kind::NoDevice && portNumber < 1)
        m_failureReason = QStringLiteral("%1 is not a port number (1 or more)").arg(portNumber);
    else if (kind == OpenFailure::Kind::NoDevice)
        m_failureReason = QStringLiteral("port number %1 names no device").arg(portNumber);
    else
        m_failureReason = device + QStringLiteral(": ") + systemText;
    return false;
}

bool SerialPortControl::setCommPort(int16_t number) {
    if (m_port.isOpen())
        return false;
    if (number < 1) {
        // The number is not taken: the next open still uses the last one set.
        return fail(OpenFailure::Kind::NoDevice, number, QString(), QString());
    }
    m_portNumber = number;
    return true;
}

bool SerialPortControl::setSettings(const QString& settings) {
    const QStringList parts = settings.split(QLatin1Char(','));
    bool ok = false;
    const qint32 baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return fail(OpenFailure::Kind::SettingsRefused, deviceName(), parts[0]);
    if (parts.size() != 4)
        return fail(OpenFailure::Kind::SettingsRefused, deviceName(), settings);

    QSerialPort::Parity parity;
    const QString p = parts[1].trimmed().toLower();
    if (p == QLatin1String("n"))
        parity = QSerialPort::NoParity;
    else if (p == QLatin1String("e"))
        parity = QSerialPort::EvenParity;
    else if (p == QLatin1String("o"))
        parity = QSerialPort::OddParity;
    else if (p == QLatin1String("m"))
        parity = QSerialPort::MarkParity;
    else if (p == QLatin1String("s"))
        parity = QSerialPort::SpaceParity;
    else
        return fail(OpenFailure::Kind::SettingsRefused, deviceName(), settings);

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return fail(OpenFailure::Kind::SettingsRefused, deviceName(), settings);

    QSerialPort::StopBits stop;
    const QString s = parts[3].trimmed();
    if (s == QLatin1String("1"))
        stop = QSerialPort::OneStop;
    else if (s == QLatin1String("1.5"))
        stop = QSerialPort::OneAndHalfStop;
    else if (s == QLatin1String("2"))
        stop = QSerialPort::TwoStop;
    else
        return fail(OpenFailure::Kind::SettingsRefused, deviceName(), settings);

    if (m_port.isOpen() &&
        !(m_port.setBaudRate(baud) && m_port.setParity(parity) &&
          m_port.setDataBits(static_cast<QSerialPort::DataBits>(bits)) && m_port.setStopBits(stop)))
        return false;
    m_baudRate = baud;
    m_parity = parity;
    m_dataBits = static_cast<QSerialPort::DataBits>(bits);
    m_stopBits = stop;
    return true;
}

bool SerialPortControl::setInputLen(int16_t length) {
    if (length < 0)
        return false;
    m_inputLen = length;
    return true;
}

bool SerialPortControl::setRThreshold(int16_t threshold) {
    if (threshold < 0)
        return false;
    m_rThreshold = threshold;
    return true;
}

QString SerialPortControl::deviceName() const {
    return m_resolver ? m_resolver(m_portNumber) : QString();
}

bool SerialPortControl::setPortOpen(bool open) {
    if (!open) {
        if (!m_port.isOpen())
            return false;
        m_port.close();
        return true;
    }
    if (m_port.isOpen())
        return false;
    const QString device = deviceName();
    if (device.isEmpty())
        return fail(OpenFailure::Kind::NoDevice, device, QString());
#ifdef Q_OS_WIN
    const QString target = device;
    m_port.setPortName(target);
#else
    // The lock file that keeps a second program off the line is named after
    // the path opened: a link (/dev/serial/by-id/...) must lock the device it
    // points to, or two programs could share it under two names. A device
    // that is not there is not tried, so it takes no lock file, which would
    // be written and synced to the disk for nothing.
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty()) {
        qCDebug(lcSerial) << "no device" << device;
        return fail(OpenFailure::Kind::NotFound, device, qt_error_string(ENOENT));
    }
    m_port.setPortName(target);
#endif
    m_port.setBaudRate(m_baudRate);
    m_port.setParity(m_parity);
    m_port.setDataBits(m_dataBits);
    m_port.setStopBits(m_stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_commEvent = 0;
    if (!m_port.open(QIODevice::ReadWrite)) {
        qCDebug(lcSerial) << "cannot open" << device << m_port.errorString();
        return fail(openErrorKind(target), device, m_port.errorString());
    }
    qCDebug(lcSerial) << "opened" << device << m_baudRate;
    m_failure = {};
    return true;
}

OpenFailure::Kind SerialPortControl::openErrorKind(const QString& target) const {
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::Kind::NotFound;
    case QSerialPort::PermissionError:
#ifdef Q_OS_WIN
        // Windows says "access denied" for a port that another program holds.
        Q_UNUSED(target);
        return OpenFailure::Kind::Busy;
#else
        // Qt says "permission" both for a device the user may not open and
        // for one locked or held by another program: the device's own
        // access rights tell them apart.
        if (::access(QFile::encodeName(target).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return OpenFailure::Kind::PermissionDenied;
        return OpenFailure::Kind::Busy;
#endif
    default:
        return OpenFailure::Kind::Other;
    }
}

int SerialPortControl::inBufferCount() const {
    return m_port.isOpen() ? static_cast<int>(m_port.bytesAvailable()) : 0;
}

bool SerialPortControl::clearInBuffer() {
    return m_port.isOpen() && m_port.clear(QSerialPort::Input);
}

bool SerialPortControl::clearOutBuffer() {
    return m_port.isOpen() && m_port.clear(QSerialPort::Output);
}

QByteArray SerialPortControl::input() {
    if (!m_port.isOpen())
        return {};
    return m_inputLen == 0 ? m_port.readAll() : m_port.read(m_inputLen);
}

bool SerialPortControl::output(const QByteArray& bytes) {
    if (!m_port.isOpen())
        return false;
    if (m_port.write(bytes) != bytes.size()) {
        m_failureReason = deviceName() + QStringLiteral(": write refused");
        loseDevice();
        return false;
    }
    // Hand the bytes to the driver now rather than at the next turn of the
    // event loop; a refused write shows up here as an error.
    m_port.flush();
    return m_port.isOpen();
}

void SerialPortControl::onReadyRead() {
    if (m_rThreshold <= 0 || m_port.bytesAvailable() <= 0)
        return;
    m_commEvent = comEvReceive;
    Q_EMIT comm();
}

void SerialPortControl::onErrorOccurred(QSerialPort::SerialPortError error) {
    // Errors of a failed open are the open's result. Once open, any error but
    // a time-out means the device is gone: some Qt versions repeat a read
    // error in a tight loop on a hang-up, so the port is closed at the first.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_port.isOpen())
        return;
    qCDebug(lcSerial) << "device lost:" << error << m_port.errorString();
    m_failureReason = deviceName() + QStringLiteral(": ") + m_port.errorString();
    loseDevice();
}

void SerialPortControl::loseDevice() {
    if (!m_port.isOpen())
        return;
    m_port.close();
    m_port.clearError();
    Q_EMIT deviceLost();
}

} // namespace tklink
