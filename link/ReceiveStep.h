#pragma once

// The one place that decides what received bytes are: given the bytes held
// and the request on the line, it says what their head is. Every exchange
// of the line (a poll, a setpoint write, a search's try) is judged here and
// nowhere else. Pure: no port, no clock.

#include <QByteArray>

#include <cstdint>
#include <span>

namespace tklink {

// What a request waits for.
enum class Reply {
    Registers, // a read of holding registers: address, 3, byte count, data, CRC
    WriteEcho, // a register write: the answer function 6 or 16 gives
};

struct HeldVerdict {
    enum class Kind {
        NeedMore,  // could still become the answer or the echo
        Echo,      // our own request coming back from an echoing adapter
        Answer,    // the answer to the request, checked whole
        Exception, // the slave refused the request; code says why
        Foreign,   // a valid frame from another address: not ours
        Drop,      // no frame starts with the first byte
    };
    Kind kind = Kind::NeedMore;
    // The bytes the head takes: the frame's length, 1 for Drop, 0 for NeedMore.
    int length = 0;
    uint8_t code = 0;
};

// request: the whole frame on the line, CRC included. An empty request (no
// exchange on the line) makes every byte a Drop.
HeldVerdict judgeHeld(std::span<const uint8_t> held, std::span<const uint8_t> request,
                      Reply reply);

std::span<const uint8_t> byteSpan(const QByteArray& bytes);

} // namespace tklink
