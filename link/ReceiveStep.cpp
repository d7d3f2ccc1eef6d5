#include "ReceiveStep.h"

#include "AnswerFrame.h"
#include "SetpointFrame.h"

namespace tklink {

namespace {

using Kind = HeldVerdict::Kind;

// A whole answer or exception of another slave at the head: dropped as one
// frame, so that the stale reason can say whose it was. The start of one is
// dropped byte by byte like noise: waiting for the rest could hold up the
// answer behind it.
HeldVerdict foreignOrDrop(std::span<const uint8_t> held) {
    switch (checkHead(held, held[0])) {
    case FrameHead::Answer:
        return {Kind::Foreign, answerLength, 0};
    case FrameHead::Exception:
        return {Kind::Foreign, exceptionLength, 0};
    case FrameHead::NeedMore:
    case FrameHead::Bad:
        break;
    }
    return {Kind::Drop, 1, 0};
}

} // namespace

std::span<const uint8_t> byteSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

HeldVerdict judgeHeld(std::span<const uint8_t> held, std::span<const uint8_t> request,
                      Reply reply) {
    if (held.empty())
        return {Kind::NeedMore, 0, 0};
    if (request.size() < 2)
        return {Kind::Drop, 1, 0};
    // A function 6 answer is its request's echo: there the echo is the answer.
    const bool echoIsAnswer = reply == Reply::WriteEcho && request[1] == writeSingleRegister;
    if (!echoIsAnswer) {
        switch (checkEcho(held, request)) {
        case EchoHead::Partial:
            return {Kind::NeedMore, 0, 0};
        case EchoHead::Whole:
            return {Kind::Echo, int(request.size()), 0};
        case EchoHead::None:
            break;
        }
    }
    const uint8_t address = request[0];
    if (reply == Reply::Registers) {
        switch (checkHead(held, address)) {
        case FrameHead::NeedMore:
            return {Kind::NeedMore, 0, 0};
        case FrameHead::Answer:
            return {Kind::Answer, answerLength, 0};
        case FrameHead::Exception:
            return {Kind::Exception, exceptionLength, *exceptionCode(held, address)};
        case FrameHead::Bad:
            break;
        }
    } else {
        const WriteAnswer answer = checkWriteAnswer(held, request);
        switch (answer.kind) {
        case WriteAnswer::Kind::NeedMore:
            return {Kind::NeedMore, 0, 0};
        case WriteAnswer::Kind::Accepted:
            return {Kind::Answer, answer.length, 0};
        case WriteAnswer::Kind::Exception:
            return {Kind::Exception, answer.length, answer.code};
        case WriteAnswer::Kind::Bad:
            break;
        }
    }
    return held[0] == address ? HeldVerdict{Kind::Drop, 1, 0} : foreignOrDrop(held);
}

} // namespace tklink
