// The request framing on arbitrary request texts.
//
// Input: the request text, one character per byte (Latin-1).
//
// Judged against a model of the framing written from its contract: the frame
// length, the data bytes, the CRC over the text's binary digits (computed by
// the reference CRC, not the binary-text method), and where it stops on a
// failure. A well-formed text (pairs of upper-case hex digits) must give its
// bytes followed by their CRC-16/MODBUS, low byte first. The port is never
// opened, so every request ends before the receive side is touched: the bytes
// held for the receive side must stay as they were.

#include "Data.h"
#include "FuzzTarget.h"
#include "ModbusReference.h"
#include "RequestFrame.h"
#include "SerialPortControl.h"

#include <optional>
#include <vector>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct Frame {
    int last = 0;
    std::vector<uint8_t> bytes;
};

Frame modelFrame(const std::vector<char>& text) {
    const int length = int(text.size());
    Frame frame;
    // Half the length plus one, a tie going to the even neighbour.
    frame.last = length / 2 + 1;
    if (length % 2 == 1 && frame.last % 2 == 1)
        ++frame.last;
    frame.bytes.assign(std::size_t(frame.last) + 1, 0);

    for (int p = 0, index = 0; p < length; p += 2, ++index) {
        const int high = hexValue(text[std::size_t(p)]);
        if (high < 0)
            return frame;
        const int low = hexValue(text[std::size_t(std::min(p + 1, length - 1))]);
        frame.bytes[std::size_t(index)] = uint8_t(16 * high + (low < 0 ? 0 : low));
    }

    // The CRC reads every character as a digit value: "A" to "K" as 10 to 20
    // (16 to 20 give no bits), other characters up to "@" as their decimal
    // digit or 0; anything above "K" fails.
    std::vector<int> bits;
    for (const char c : text) {
        const int code = static_cast<unsigned char>(c);
        if (code > 'K')
            return frame;
        int value = 0;
        if (code > '@')
            value = code - 55;
        else if (code >= '0' && code <= '9')
            value = code - '0';
        if (value <= 15) {
            for (int bit = 3; bit >= 0; --bit)
                bits.push_back((value >> bit) & 1);
        }
    }
    std::vector<uint8_t> crcBytes;
    for (std::size_t start = 0; start < bits.size(); start += 8) {
        int byte = 0;
        for (std::size_t m = 0; m < 8; ++m)
            byte = byte * 2 + (start + m < bits.size() ? bits[start + m] : 0);
        crcBytes.push_back(uint8_t(byte));
    }
    const uint16_t crc = reference::crc16(crcBytes);
    frame.bytes[std::size_t(frame.last) - 1] = uint8_t(crc & 0xFF);
    frame.bytes[std::size_t(frame.last)] = uint8_t(crc >> 8);
    return frame;
}

bool wellFormed(const std::vector<char>& text) {
    if (text.size() % 2 != 0)
        return false;
    for (const char c : text) {
        if (hexValue(c) < 0)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static tklink::SerialPortControl closedPort([](int) { return QString(); });
    const std::vector<char> text(data, data + size);
    const QString request = QString::fromLatin1(text.data(), qsizetype(text.size()));

    // A partial answer held, and a longer frame from an earlier request.
    Data::rxCount = 7;
    Data::rxBuffer.fill(0x5A);
    Data::txFrame.assign(300, 0xEE);
    Data::txFrameLast = 299;

    tklink::sendRequest(closedPort, request);

    const Frame expected = modelFrame(text);
    FUZZ_CHECK(Data::txFrameLast == expected.last);
    FUZZ_CHECK(Data::txFrame == expected.bytes);
    FUZZ_CHECK(Data::rxCount == 7);
    for (const uint8_t held : Data::rxBuffer)
        FUZZ_CHECK(held == 0x5A);

    if (wellFormed(text)) {
        std::vector<uint8_t> body;
        for (std::size_t p = 0; p < text.size(); p += 2)
            body.push_back(uint8_t(16 * hexValue(text[p]) + hexValue(text[p + 1])));
        const uint16_t crc = reference::crc16(body);
        body.push_back(uint8_t(crc & 0xFF));
        body.push_back(uint8_t(crc >> 8));
        FUZZ_CHECK(Data::txFrame == body);
    }

    if (size >= 1) {
        const QString pair = request.left(2);
        const std::optional<uint8_t> byte = tklink::hexPairToByte(pair);
        const int high = hexValue(text[0]);
        const int low = hexValue(text[std::min<std::size_t>(1, size - 1)]);
        FUZZ_CHECK(byte.has_value() == (high >= 0));
        if (byte)
            FUZZ_CHECK(*byte == 16 * high + (low < 0 ? 0 : low));
    }
    return 0;
}
