#pragma once

// The setpoint write on the line: the request (function 6, write single
// register, or 16, write multiple registers with a count of 1, to register
// 2 in tenths of a degree) and the check of its answer. Pure functions on
// bytes; the request goes out through sendRequest like the poll's.

#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace tklink {

inline constexpr uint8_t writeSingleRegister = 6;
inline constexpr uint8_t writeMultipleRegisters = 16;
inline constexpr uint16_t setpointRegister = 2;

// Tenths of a degree as the register holds them; nothing outside 16 bits.
std::optional<int16_t> setpointTenths(double degrees);

// The request text for sendRequest: two upper-case hex digits per byte,
// without the CRC. function is writeSingleRegister or writeMultipleRegisters.
QString setpointWriteText(uint8_t address, uint8_t function, int16_t tenths);

// How the bytes held stand to the request just sent.
struct WriteAnswer {
    enum class Kind {
        NeedMore,  // could still become the answer
        Accepted,  // the answer the function asks for: the echo for 6; address,
                   // function, start and count for 16
        Exception, // the controller refused it; code holds why
        Bad,       // no answer to this request starts with the first byte
    };
    Kind kind = Kind::NeedMore;
    // The bytes the answer takes (Accepted, Exception).
    int length = 0;
    uint8_t code = 0;
};

// request: the whole frame sent, CRC included.
WriteAnswer checkWriteAnswer(std::span<const uint8_t> held, std::span<const uint8_t> request);

// The controller's exception code in the operator's words: "the controller
// does not accept setpoint writes", "value refused", "the controller failed",
// "busy: try again later", "exception 5".
QString writeExceptionText(int code);

} // namespace tklink
