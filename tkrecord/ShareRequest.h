#pragma once

// The Modbus TCP share as pure functions over bytes: where a request frame
// (MBAP header and PDU) ends in what a client sent, and the answer to it. A
// controller's registers 1 to 3 are answered as the controller itself
// answers them (libmodbus's checks, in its order); what the recorder cannot
// answer is told the way a gateway tells it.

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace tkrecord {

// The header's length field counts the unit id and the PDU.
inline constexpr int shareLengthMin = 2;
inline constexpr int shareLengthMax = 254;
inline constexpr int shareHeaderSize = 6;

enum class ShareException : uint8_t {
    IllegalFunction = 1,
    IllegalDataAddress = 2,
    IllegalDataValue = 3,
    // The gateway's "target device failed to respond".
    TargetFailed = 11,
};

struct ShareFrame {
    enum class Kind {
        Incomplete, // more bytes are needed
        Bad,        // not Modbus TCP: the connection is to be closed
        Request,
    };
    Kind kind = Kind::Incomplete;
    // Bytes the frame takes at the start of the buffer, for a Request.
    qsizetype size = 0;
    uint16_t transaction = 0;
    uint8_t unit = 0;
    // Function code and data.
    QByteArray pdu;
};

// The first frame at the start of bytes. Bad as soon as the header shows a
// protocol id other than 0 or a length outside 2 to 254.
ShareFrame takeShareFrame(const QByteArray& bytes);

// Registers 1, 2 and 3 of a controller as it would send them.
using ShareRegisters = std::array<uint16_t, 3>;
// A unit's registers; nothing when no controller has that address or its
// values are not current.
using RegisterLookup = std::function<std::optional<ShareRegisters>(uint8_t unit)>;

// The whole answer to a Request: functions 3 and 4 read registers 1 to 3;
// any other function (every write among them) is exception 1, whatever the
// unit; a unit without current values exception 11.
QByteArray shareAnswer(const ShareFrame& request, const RegisterLookup& registers);

} // namespace tkrecord
