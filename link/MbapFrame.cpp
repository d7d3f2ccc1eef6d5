#include "MbapFrame.h"

#include "AnswerFrame.h"

namespace tklink {

namespace {

uint16_t word(std::span<const uint8_t> bytes, std::size_t at) {
    return uint16_t(bytes[at] << 8 | bytes[at + 1]);
}

void appendWord(QByteArray& bytes, int value) {
    bytes.append(char((value >> 8) & 0xFF));
    bytes.append(char(value & 0xFF));
}

} // namespace

QByteArray mbapFromRtu(std::span<const uint8_t> rtuFrame, uint16_t transactionId) {
    // Address, function, CRC low, CRC high.
    if (rtuFrame.size() < 4)
        return {};
    const std::size_t pduBytes = rtuFrame.size() - 3;
    QByteArray mbap;
    mbap.reserve(int(mbapHeaderBytes + pduBytes));
    appendWord(mbap, transactionId);
    appendWord(mbap, 0);
    appendWord(mbap, int(pduBytes + 1));
    mbap.append(char(rtuFrame[0]));
    mbap.append(reinterpret_cast<const char*>(rtuFrame.data() + 1), qsizetype(pduBytes));
    return mbap;
}

QByteArray rtuFromMbap(uint8_t unitId, std::span<const uint8_t> pdu) {
    QByteArray rtu;
    rtu.reserve(qsizetype(pdu.size()) + 3);
    rtu.append(char(unitId));
    rtu.append(reinterpret_cast<const char*>(pdu.data()), qsizetype(pdu.size()));
    const uint16_t crc = crc16Modbus(
        std::span(reinterpret_cast<const uint8_t*>(rtu.constData()), std::size_t(rtu.size())));
    rtu.append(char(crc & 0xFF));
    rtu.append(char(crc >> 8));
    return rtu;
}

MbapHead judgeMbapHead(std::span<const uint8_t> held) {
    MbapHead head;
    if (held.size() < 6)
        return head;
    const uint16_t protocol = word(held, 2);
    const uint16_t length = word(held, 4);
    if (protocol != 0) {
        head.kind = MbapHead::Kind::Broken;
        head.reason = QStringLiteral("protocol id %1 is not Modbus (0)").arg(protocol);
        return head;
    }
    if (length < mbapLengthMin || length > mbapLengthMax) {
        head.kind = MbapHead::Kind::Broken;
        head.reason = QStringLiteral("MBAP length %1 is outside %2 to %3")
                          .arg(length)
                          .arg(mbapLengthMin)
                          .arg(mbapLengthMax);
        return head;
    }
    const std::size_t total = 6 + std::size_t(length);
    if (held.size() < total)
        return head;
    head.kind = MbapHead::Kind::Frame;
    head.length = int(total);
    head.transactionId = word(held, 0);
    head.unitId = held[6];
    return head;
}

QString gatewayExceptionText(int code) {
    switch (code) {
    case 10:
        return QStringLiteral("gateway path unavailable");
    case 11:
        return QStringLiteral("target failed to respond");
    default:
        return {};
    }
}

QString exceptionWords(int code, bool viaGateway) {
    const QString gateway = viaGateway ? gatewayExceptionText(code) : QString();
    if (gateway.isEmpty())
        return QStringLiteral("exception %1").arg(code);
    return gateway + QStringLiteral(" (exception %1)").arg(code);
}

} // namespace tklink
