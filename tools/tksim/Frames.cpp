#include "Frames.h"

#include <cstdio>

namespace tksim {

namespace {

int word(const Bytes& frame, std::size_t at) {
    return frame[at] << 8 | frame[at + 1];
}

int signedWord(const Bytes& frame, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(word(frame, at)));
}

std::string hexByte(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

} // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

void refreshCrc(Bytes& frame) {
    if (frame.size() < 2)
        return;
    const std::uint16_t crc = crc16(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = crc & 0xFF;
    frame[frame.size() - 1] = crc >> 8;
}

std::string describeRequest(const Bytes& request) {
    if (request.size() < 2)
        return "empty request";
    const int function = request[1];
    if ((function == 3 || function == 4) && request.size() >= 6) {
        const int first = word(request, 2);
        return "read " + std::to_string(first) + ".." +
               std::to_string(first + word(request, 4) - 1);
    }
    if (function == 6 && request.size() >= 6)
        return "write " + std::to_string(word(request, 2)) + "=" +
               std::to_string(signedWord(request, 4));
    if (function == 16 && request.size() >= 6) {
        const int first = word(request, 2);
        return "write " + std::to_string(first) + ".." +
               std::to_string(first + word(request, 4) - 1);
    }
    return "function " + hexByte(function);
}

std::string describeAnswer(const Bytes& request, const Bytes& answer) {
    if (answer.size() < 2 || request.size() < 2)
        return "answer of " + std::to_string(answer.size()) + " bytes";
    const int function = answer[1];
    if (function & 0x80)
        return "exception " + std::to_string(answer.size() > 2 ? answer[2] : 0) + " " +
               describeRequest(request);
    if ((function == 3 || function == 4) && answer.size() >= 3 && request.size() >= 6) {
        const std::size_t count = answer[2] / 2;
        const int first = word(request, 2);
        const bool poll = function == 3 && first == 1 && count == 3;
        std::string text = "answer";
        for (std::size_t i = 0; i < count && 3 + 2 * i + 1 < answer.size(); ++i) {
            text += ' ';
            if (!poll)
                text += std::to_string(first + static_cast<int>(i)) + "=";
            text += std::to_string(signedWord(answer, 3 + 2 * i));
        }
        return text;
    }
    if (function == 6 && answer.size() >= 6)
        return "write " + std::to_string(word(answer, 2)) + "=" +
               std::to_string(signedWord(answer, 4));
    if (function == 16 && request.size() >= 7) {
        const int first = word(request, 2);
        const std::size_t count = request[6] / 2;
        std::string text = "write";
        for (std::size_t i = 0; i < count && 7 + 2 * i + 1 < request.size(); ++i)
            text += " " + std::to_string(first + static_cast<int>(i)) + "=" +
                    std::to_string(signedWord(request, 7 + 2 * i));
        return text;
    }
    return "answer function " + hexByte(function);
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X", b);
        text += pair;
    }
    return text;
}

bool writesOnlySetpoint(const Bytes& request) {
    constexpr int writableRegister = 2;
    if (request.size() < 6)
        return true;
    const int function = request[1];
    if (function == 6)
        return word(request, 2) == writableRegister;
    if (function == 16)
        return word(request, 2) == writableRegister && word(request, 4) == 1;
    return true; // not a write
}

} // namespace tksim
