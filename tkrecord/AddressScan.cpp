#include "AddressScan.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <span>

#include "AnswerFrame.h"

namespace tkrecord {

namespace {

// The Modbus silence between frames, rounded up for any speed from 9600 on.
constexpr int silenceMs = 4;

bool answers(QSerialPort& port, uint8_t address) {
    const auto request = tklink::pollRequestFrame(address);
    port.clear();
    port.write(reinterpret_cast<const char*>(request.data()), qint64(request.size()));
    QByteArray held;
    QElapsedTimer waited;
    waited.start();
    while (port.waitForReadyRead(int(qMax<qint64>(1, probeAnswerTimeoutMs - waited.elapsed())))) {
        held += port.readAll();
        while (!held.isEmpty()) {
            const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(held.constData()),
                                                 std::size_t(held.size()));
            if (tklink::checkEcho(bytes, request) == tklink::EchoHead::Whole) {
                held.remove(0, qsizetype(request.size()));
                continue;
            }
            const tklink::FrameHead head = tklink::checkHead(bytes, address);
            // An exception is some device refusing the poll, as in the search:
            // not a controller to record.
            if (head == tklink::FrameHead::Answer || head == tklink::FrameHead::Exception)
                return head == tklink::FrameHead::Answer;
            if (head == tklink::FrameHead::NeedMore)
                break;
            held.remove(0, 1);
        }
        if (waited.elapsed() >= probeAnswerTimeoutMs)
            break;
    }
    return false;
}

} // namespace

QList<int> answeringAddresses(const QString& device, qint32 speed, int lastAddress,
                              QString* error) {
    QSerialPort port(device);
    port.setBaudRate(speed);
    if (!port.open(QIODevice::ReadWrite)) {
        *error = port.errorString();
        return {};
    }
    QList<int> found;
    for (int address = 1; address <= lastAddress; ++address) {
        if (answers(port, uint8_t(address)))
            found << address;
        QThread::msleep(silenceMs);
    }
    return found;
}

QStringList controllersLines(const QList<int>& addresses) {
    QStringList lines{QStringLiteral("[Controllers]")};
    for (const int address : addresses)
        lines << QStringLiteral("controller-%1=%1").arg(address);
    return lines;
}

} // namespace tkrecord
