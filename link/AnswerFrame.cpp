#include "AnswerFrame.h"

#include <algorithm>

namespace tklink {

namespace {

// The CRC of the frame's bytes before it matches the two bytes that end it,
// sent low byte first.
bool crcMatches(std::span<const uint8_t> frame) {
    const std::size_t body = frame.size() - 2;
    const uint16_t crc = crc16Modbus(frame.first(body));
    return frame[body] == (crc & 0xFF) && frame[body + 1] == (crc >> 8);
}

int16_t registerAt(std::span<const uint8_t> frame, std::size_t index) {
    // High byte first; the bit pattern is the controller's two's complement.
    return static_cast<int16_t>(static_cast<uint16_t>((frame[index] << 8) | frame[index + 1]));
}

} // namespace

uint16_t crc16Modbus(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : (crc >> 1);
    }
    return crc;
}

FrameHead checkHead(std::span<const uint8_t> held, uint8_t address) {
    // Each byte is judged as soon as it is held, so a bad head is dropped at
    // the first byte that gives it away and a valid frame behind it is found.
    if (held.empty())
        return FrameHead::NeedMore;
    if (held[0] != address)
        return FrameHead::Bad;
    if (held.size() < 2)
        return FrameHead::NeedMore;

    if (held[1] == readHoldingRegistersException) {
        if (held.size() < std::size_t(exceptionLength))
            return FrameHead::NeedMore;
        return crcMatches(held.first(exceptionLength)) ? FrameHead::Exception : FrameHead::Bad;
    }
    if (held[1] != readHoldingRegisters)
        return FrameHead::Bad;
    if (held.size() < 3)
        return FrameHead::NeedMore;
    if (held[2] != answerByteCount)
        return FrameHead::Bad;
    if (held.size() < std::size_t(answerLength))
        return FrameHead::NeedMore;
    return crcMatches(held.first(answerLength)) ? FrameHead::Answer : FrameHead::Bad;
}

std::array<uint8_t, 8> pollRequestFrame(uint8_t address) {
    std::array<uint8_t, 8> frame{address, readHoldingRegisters, 0x00, 0x01, 0x00, 0x03, 0, 0};
    const uint16_t crc = crc16Modbus(std::span<const uint8_t>(frame).first(6));
    // Low byte first, as Modbus sends its CRC.
    frame[6] = uint8_t(crc & 0xFF);
    frame[7] = uint8_t(crc >> 8);
    return frame;
}

QByteArray pollRequestBytes(uint8_t address) {
    const auto frame = pollRequestFrame(address);
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

EchoHead checkEcho(std::span<const uint8_t> held, std::span<const uint8_t> request) {
    if (request.empty() || held.empty())
        return EchoHead::None;
    const std::size_t compared = std::min(held.size(), request.size());
    if (!std::equal(request.begin(), request.begin() + std::ptrdiff_t(compared), held.begin()))
        return EchoHead::None;
    return compared == request.size() ? EchoHead::Whole : EchoHead::Partial;
}

std::optional<AnswerValues> decodeAnswer(std::span<const uint8_t> held, uint8_t address) {
    if (checkHead(held, address) != FrameHead::Answer)
        return std::nullopt;
    AnswerValues values;
    values.measure = registerAt(held, 3);
    values.setpoint = registerAt(held, 5);
    values.power = registerAt(held, 7);
    return values;
}

std::optional<uint8_t> exceptionCode(std::span<const uint8_t> held, uint8_t address) {
    if (checkHead(held, address) != FrameHead::Exception)
        return std::nullopt;
    return held[2];
}

} // namespace tklink
