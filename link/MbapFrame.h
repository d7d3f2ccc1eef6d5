#pragma once

// Modbus TCP framing, for a gateway that speaks it: the MBAP header
// (transaction id, protocol id 0, length of what follows, unit id) in front
// of the request's PDU, where the RTU line has an address before and a CRC
// after it. The line owner speaks RTU frames on every transport; these turn
// one into the other. Pure: no socket, no clock.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

namespace tklink {

// Bytes of the header: transaction id, protocol id and length (two each),
// then the unit id.
inline constexpr int mbapHeaderBytes = 7;
// The length field counts the unit id and the PDU: a PDU is 1 to 253 bytes.
inline constexpr int mbapLengthMin = 2;
inline constexpr int mbapLengthMax = 254;

// The Modbus TCP request for an RTU request frame (address, PDU, CRC): the
// address becomes the unit id, the CRC is left out. Empty for a frame too
// short to hold an address, a function and a CRC.
QByteArray mbapFromRtu(std::span<const uint8_t> rtuFrame, uint16_t transactionId);

// The RTU frame a serial line would have carried for the unit id and PDU of a
// Modbus TCP answer: unit id, PDU, CRC (low byte first).
QByteArray rtuFromMbap(uint8_t unitId, std::span<const uint8_t> pdu);

struct MbapHead {
    enum class Kind {
        NeedMore, // the header or the frame is not whole yet
        Frame,    // a whole frame of length bytes at the head
        Broken,   // a header no Modbus TCP peer sends: the stream is lost
    };
    Kind kind = Kind::NeedMore;
    int length = 0;
    uint16_t transactionId = 0;
    uint8_t unitId = 0;
    // Broken only: what was wrong, for the operator.
    QString reason;
};

// What the head of the bytes received is. A protocol id other than 0 or a
// length outside 2 to 254 breaks the stream: nothing after it can be
// trusted to start a frame.
MbapHead judgeMbapHead(std::span<const uint8_t> held);

// The words for a gateway's own exception codes (10, 11); empty for the
// codes a controller sends.
QString gatewayExceptionText(int code);

// An exception answer in the operator's words: a gateway's own codes, when
// they came through one, as "target failed to respond (exception 11)"; any
// other as "exception 4".
QString exceptionWords(int code, bool viaGateway);

} // namespace tklink
