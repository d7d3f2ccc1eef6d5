#include "ShareRequest.h"

namespace tkrecord {

namespace {

constexpr int firstRegister = 1;
constexpr int lastRegister = 3;
// Modbus's own limit for one read.
constexpr int readCountMax = 125;

uint16_t word(const QByteArray& bytes, qsizetype at) {
    return uint16_t((uint8_t(bytes[at]) << 8) | uint8_t(bytes[at + 1]));
}

void appendWord(QByteArray& bytes, uint16_t value) {
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

QByteArray framed(const ShareFrame& request, const QByteArray& pdu) {
    QByteArray answer;
    appendWord(answer, request.transaction);
    appendWord(answer, 0);
    appendWord(answer, uint16_t(pdu.size() + 1));
    answer.append(char(request.unit));
    return answer + pdu;
}

QByteArray exception(const ShareFrame& request, uint8_t function, ShareException code) {
    const char pdu[] = {char(function | 0x80), char(code)};
    return framed(request, QByteArray(pdu, sizeof pdu));
}

} // namespace

ShareFrame takeShareFrame(const QByteArray& bytes) {
    ShareFrame frame;
    if (bytes.size() < shareHeaderSize)
        return frame;
    const uint16_t length = word(bytes, 4);
    if (word(bytes, 2) != 0 || length < shareLengthMin || length > shareLengthMax) {
        frame.kind = ShareFrame::Kind::Bad;
        return frame;
    }
    if (bytes.size() < shareHeaderSize + length)
        return frame;
    frame.kind = ShareFrame::Kind::Request;
    frame.size = shareHeaderSize + length;
    frame.transaction = word(bytes, 0);
    frame.unit = uint8_t(bytes[shareHeaderSize]);
    frame.pdu = bytes.mid(shareHeaderSize + 1, length - 1);
    return frame;
}

QByteArray shareAnswer(const ShareFrame& request, const RegisterLookup& registers) {
    const auto function = uint8_t(request.pdu.at(0));
    // Some masters ask for input registers: the same three values.
    if (function != 3 && function != 4)
        return exception(request, function, ShareException::IllegalFunction);
    const std::optional<ShareRegisters> values = registers(request.unit);
    if (!values)
        return exception(request, function, ShareException::TargetFailed);
    if (request.pdu.size() != 5)
        return exception(request, function, ShareException::IllegalDataValue);
    const int start = word(request.pdu, 1);
    const int count = word(request.pdu, 3);
    if (count < 1 || count > readCountMax)
        return exception(request, function, ShareException::IllegalDataValue);
    if (start < firstRegister || start + count - 1 > lastRegister)
        return exception(request, function, ShareException::IllegalDataAddress);
    QByteArray pdu;
    pdu.append(char(function));
    pdu.append(char(2 * count));
    for (int r = start; r < start + count; ++r)
        appendWord(pdu, (*values)[std::size_t(r - firstRegister)]);
    return framed(request, pdu);
}

} // namespace tkrecord
