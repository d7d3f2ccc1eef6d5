#include "SetpointFrame.h"

#include "AnswerFrame.h"

#include <algorithm>
#include <cmath>

namespace tklink {

namespace {

constexpr int exceptionFrameLength = 5;
// Address, function, start, count or value, CRC.
constexpr int writeAnswerLength = 8;

bool crcMatches(std::span<const uint8_t> frame) {
    const std::size_t body = frame.size() - 2;
    const uint16_t crc = crc16Modbus(frame.first(body));
    return frame[body] == (crc & 0xFF) && frame[body + 1] == (crc >> 8);
}

QString hexByte(int value) {
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

QString hexWord(int value) {
    return hexByte(value >> 8) + hexByte(value);
}

} // namespace

std::optional<int16_t> setpointTenths(double degrees) {
    const double tenths = std::round(degrees * 10.0);
    if (!std::isfinite(tenths) || tenths < INT16_MIN || tenths > INT16_MAX)
        return std::nullopt;
    return static_cast<int16_t>(tenths);
}

QString setpointWriteText(uint8_t address, uint8_t function, int16_t tenths) {
    const int value = static_cast<uint16_t>(tenths);
    QString text = hexByte(address) + hexByte(function) + hexWord(setpointRegister);
    if (function == writeMultipleRegisters)
        return text + hexWord(1) + hexByte(2) + hexWord(value);
    return text + hexWord(value);
}

WriteAnswer checkWriteAnswer(std::span<const uint8_t> held, std::span<const uint8_t> request) {
    using Kind = WriteAnswer::Kind;
    if (request.size() < 6)
        return {Kind::Bad};
    // Judged byte by byte, as the poll's answers are: a wrong byte is seen
    // as soon as it is held.
    const std::size_t have = std::min<std::size_t>(held.size(), 2);
    if (!std::equal(request.begin(), request.begin() + std::ptrdiff_t(have), held.begin())) {
        if (held.size() < 2 || held[0] != request[0] || held[1] != (request[1] | 0x80))
            return {Kind::Bad};
        if (held.size() < std::size_t(exceptionFrameLength))
            return {Kind::NeedMore};
        if (!crcMatches(held.first(exceptionFrameLength)))
            return {Kind::Bad};
        return {Kind::Exception, exceptionFrameLength, held[2]};
    }
    // Function 6 echoes the whole request; 16 its address, function, start
    // and count.
    const std::size_t compared = std::min<std::size_t>(held.size(), 6);
    if (!std::equal(request.begin(), request.begin() + std::ptrdiff_t(compared), held.begin()))
        return {Kind::Bad};
    if (held.size() < std::size_t(writeAnswerLength))
        return {Kind::NeedMore};
    if (!crcMatches(held.first(writeAnswerLength)))
        return {Kind::Bad};
    return {Kind::Accepted, writeAnswerLength, 0};
}

QString writeExceptionText(int code) {
    if (code == 1 || code == 2)
        return QStringLiteral("the controller does not accept setpoint writes");
    if (code == 3)
        return QStringLiteral("value refused");
    if (code == 4)
        return QStringLiteral("the controller failed");
    if (code == 6)
        return QStringLiteral("busy: try again later");
    return QStringLiteral("exception %1").arg(code);
}

} // namespace tklink
