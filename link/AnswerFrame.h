#pragma once

// Checking and decoding the controller's answer to the poll request. Nothing
// is taken from a frame before the whole of it has been checked: address,
// function, byte count and CRC.

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tklink {

inline constexpr uint8_t controllerAddress = 9;
inline constexpr uint8_t readHoldingRegisters = 3;
// The function code with its top bit set: the controller refused the request.
inline constexpr uint8_t readHoldingRegistersException = 0x83;
// Three registers of two bytes each.
inline constexpr uint8_t answerByteCount = 6;

// Address, function, byte count, six data bytes, CRC.
inline constexpr int answerLength = 11;
// Address, function, exception code, CRC.
inline constexpr int exceptionLength = 5;

// What the bytes held so far make of the frame at their head.
enum class FrameHead {
    NeedMore,  // could still become a valid frame
    Answer,    // a valid answer of answerLength bytes
    Exception, // a valid exception answer of exceptionLength bytes
    Bad,       // no valid frame starts with this byte: drop it
};

// How the bytes held so far stand to our own request coming back, as an
// adapter that echoes what it sends returns it.
enum class EchoHead {
    None,    // not our request
    Partial, // the start of our request: wait for the rest
    Whole,   // our request, whole: drop it unreported
};

// The three registers, in the controller's two's complement.
struct AnswerValues {
    int16_t measure = 0;  // tenths of a degree
    int16_t setpoint = 0; // tenths of a degree
    int16_t power = 0;    // the controller's own unit
};

// The measure register's value when the controller has no measurement (a
// broken or missing sensor): its own no-data word, not a temperature.
inline constexpr int16_t noMeasurementRaw = 8888;
constexpr bool hasMeasurement(const AnswerValues& values) {
    return values.measure != noMeasurementRaw;
}

// CRC-16/MODBUS (initial 0xFFFF, reflected polynomial 0xA001, no final xor).
uint16_t crc16Modbus(std::span<const uint8_t> bytes);

// Only a frame from address counts: on a bus, another slave's answer is as
// bad as a wrong CRC.
FrameHead checkHead(std::span<const uint8_t> held, uint8_t address = controllerAddress);

// The poll request to the slave at address, CRC included: read holding
// registers 1 to 3.
std::array<uint8_t, 8> pollRequestFrame(uint8_t address);
// The same, as the line sends it.
QByteArray pollRequestBytes(uint8_t address);

// Compares the head of the bytes held with the request just sent; an empty
// request never matches.
EchoHead checkEcho(std::span<const uint8_t> held, std::span<const uint8_t> request);

// The registers of the answer at the head; nothing unless checkHead says Answer.
std::optional<AnswerValues> decodeAnswer(std::span<const uint8_t> held,
                                         uint8_t address = controllerAddress);

// The code of the exception answer at the head; nothing unless checkHead says
// Exception.
std::optional<uint8_t> exceptionCode(std::span<const uint8_t> held,
                                     uint8_t address = controllerAddress);

} // namespace tklink
