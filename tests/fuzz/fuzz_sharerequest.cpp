// The Modbus TCP share's request parser and answers on arbitrary bytes from a
// client.
//
// Input: what a client sends on one connection, taken frame by frame as the
// share takes it.
//
// Judged against the frame's layout as the Modbus TCP header defines it,
// written here apart from the parser: a frame is bad exactly when its
// header's protocol id is not 0 or its length is outside 2 to 254, whole once
// 6 + length bytes are there; every answer echoes the transaction and the
// unit, carries protocol id 0 and its own length, and is either the registers
// asked (unit 9 only) or an exception with the code the request's function,
// unit and range call for.

#include "FuzzTarget.h"
#include "ShareRequest.h"

#include <QByteArray>

namespace {

int word(const QByteArray& b, qsizetype at) {
    return (uint8_t(b[at]) << 8) | uint8_t(b[at + 1]);
}

const tkrecord::ShareRegisters unit9{2153, 2000, 45};

// The exception code expected, or 0 for registers.
int expectedException(uint8_t unit, const QByteArray& pdu) {
    const int function = uint8_t(pdu[0]);
    if (function != 3 && function != 4)
        return 1;
    if (unit != 9)
        return 11;
    if (pdu.size() != 5)
        return 3;
    const int start = word(pdu, 1);
    const int count = word(pdu, 3);
    if (count == 0 || count > 125)
        return 3;
    return start >= 1 && start + count <= 4 ? 0 : 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const tkrecord::RegisterLookup lookup = [](uint8_t unit) {
        return unit == 9 ? std::optional(unit9) : std::nullopt;
    };
    for (;;) {
        const tkrecord::ShareFrame frame = tkrecord::takeShareFrame(bytes);
        if (bytes.size() < 6) {
            FUZZ_CHECK(frame.kind == tkrecord::ShareFrame::Kind::Incomplete);
            return 0;
        }
        const int length = word(bytes, 4);
        if (word(bytes, 2) != 0 || length < 2 || length > 254) {
            FUZZ_CHECK(frame.kind == tkrecord::ShareFrame::Kind::Bad);
            return 0;
        }
        if (bytes.size() < 6 + length) {
            FUZZ_CHECK(frame.kind == tkrecord::ShareFrame::Kind::Incomplete);
            return 0;
        }
        FUZZ_CHECK(frame.kind == tkrecord::ShareFrame::Kind::Request);
        FUZZ_CHECK(frame.size == 6 + length);
        const auto unit = uint8_t(bytes[6]);
        const QByteArray pdu = bytes.mid(7, length - 1);
        FUZZ_CHECK(frame.unit == unit && frame.pdu == pdu);
        FUZZ_CHECK(frame.transaction == word(bytes, 0));

        const QByteArray answer = tkrecord::shareAnswer(frame, lookup);
        FUZZ_CHECK(answer.size() >= 9);
        FUZZ_CHECK(answer.first(2) == bytes.first(2));
        FUZZ_CHECK(word(answer, 2) == 0 && word(answer, 4) == answer.size() - 6);
        FUZZ_CHECK(uint8_t(answer[6]) == unit);
        const int function = uint8_t(pdu[0]);
        const int code = expectedException(unit, pdu);
        if (code != 0) {
            FUZZ_CHECK(answer.size() == 9);
            FUZZ_CHECK(uint8_t(answer[7]) == (function | 0x80) && answer[8] == code);
        } else {
            const int start = word(pdu, 1);
            const int count = word(pdu, 3);
            FUZZ_CHECK(uint8_t(answer[7]) == function && answer[8] == 2 * count);
            FUZZ_CHECK(answer.size() == 9 + 2 * count);
            for (int r = 0; r < count; ++r)
                FUZZ_CHECK(word(answer, 9 + 2 * r) == unit9[std::size_t(start - 1 + r)]);
        }
        bytes.remove(0, frame.size);
    }
}
