#pragma once

// Modbus RTU frames checked the long way, to judge the program's own code
// against: the CRC runs most significant bit first over bit-reversed bytes
// (the textbook non-reflected form) instead of the reflected shift register
// the program uses; both must give CRC-16/MODBUS.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

inline uint8_t reversed8(uint8_t byte) {
    uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit))
            out = static_cast<uint8_t>(out | (0x80u >> bit));
    }
    return out;
}

inline uint16_t reversed16(uint16_t word) {
    return static_cast<uint16_t>((reversed8(static_cast<uint8_t>(word & 0xFF)) << 8) |
                                 reversed8(static_cast<uint8_t>(word >> 8)));
}

// CRC-16/MODBUS: polynomial x^16 + x^15 + x^2 + 1 (0x8005), register 0xFFFF,
// bytes and result reflected, no final exclusive-or.
inline uint16_t crc16(const uint8_t* bytes, std::size_t count) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t in = reversed8(bytes[i]);
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = (crc & 0x8000) != 0;
            const bool data = ((in >> bit) & 1) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (top != data)
                crc ^= 0x8005;
        }
    }
    return reversed16(crc);
}

inline uint16_t crc16(const std::vector<uint8_t>& bytes) {
    return crc16(bytes.data(), bytes.size());
}

// The last two bytes are the CRC of those before them, low byte first.
inline bool crcClosesFrame(const uint8_t* frame, std::size_t length) {
    if (length < 2)
        return false;
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

// Slave 9, function 3, six data bytes: the answer to the poll.
inline bool isValidAnswer(const uint8_t* frame) {
    return frame[0] == 9 && frame[1] == 3 && frame[2] == 6 && crcClosesFrame(frame, 11);
}

// Slave 9, function 3 refused, one exception code.
inline bool isValidException(const uint8_t* frame) {
    return frame[0] == 9 && frame[1] == 0x83 && crcClosesFrame(frame, 5);
}

inline int16_t registerValue(const uint8_t* high) {
    return static_cast<int16_t>(static_cast<uint16_t>(high[0] * 256 + high[1]));
}

// A valid answer carrying the three registers.
inline std::vector<uint8_t> answer(int16_t measure, int16_t setpoint, int16_t power) {
    std::vector<uint8_t> frame{9, 3, 6};
    for (const int16_t value : {measure, setpoint, power}) {
        frame.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
        frame.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) & 0xFF));
    }
    const uint16_t crc = crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

} // namespace reference
