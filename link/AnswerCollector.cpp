#include "AnswerCollector.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LinkLog.h"
#include "ReceiveStep.h"

#include <QByteArray>

#include <algorithm>
#include <span>

namespace tklink {

AnswerCollector::AnswerCollector(QObject* parent) : QObject(parent) {}

void AnswerCollector::requestSent() {
    m_badReported = false;
    m_answered = false;
}

bool AnswerCollector::answerTimedOut() {
    const bool bytesCame = m_badReported || Data::rxCount > 0;
    Data::rxCount = 0;
    m_badReported = true;
    return bytesCame;
}

void AnswerCollector::take(uint8_t byte) {
    if (Data::rxCount < 0 || Data::rxCount > Data::rxBufferSize)
        Data::rxCount = 0;
    // Heads are judged byte by byte and no frame is longer than eleven bytes,
    // so this only guards the buffer's end.
    if (Data::rxCount == Data::rxBufferSize)
        dropHead(1);
    Data::rxBuffer[std::size_t(Data::rxCount)] = byte;
    ++Data::rxCount;
    takeFramesAtHead();
}

void AnswerCollector::takeFramesAtHead() {
    for (;;) {
        const std::span<const uint8_t> held(Data::rxBuffer.data(), std::size_t(Data::rxCount));
        const std::span<const uint8_t> request(
            Data::txFrame.data(),
            std::min(Data::txFrame.size(), std::size_t(std::max(0, Data::txFrameLast + 1))));
        // Before the first request, bytes are judged as the poll's answer.
        static const auto poll = pollRequestFrame(controllerAddress);
        const HeldVerdict verdict =
            judgeHeld(held, request.size() < 2 ? std::span<const uint8_t>(poll) : request,
                      Reply::Registers);
        switch (verdict.kind) {
        case HeldVerdict::Kind::NeedMore:
            return;
        case HeldVerdict::Kind::Echo:
            dropHead(verdict.length);
            break;
        case HeldVerdict::Kind::Answer: {
            if (m_answered) {
                // A second answer to one request (another master, a confused
                // converter) must not replace the first one's values.
                dropHead(verdict.length);
                break;
            }
            const AnswerValues values = *decodeAnswer(held);
            qCDebug(lcLinkFrames)
                << "rx"
                << QByteArray(reinterpret_cast<const char*>(held.data()), answerLength).toHex(' ');
            Data::measureRaw = values.measure;
            Data::setpointRaw = values.setpoint;
            Data::powerRaw = values.power;
            dropHead(verdict.length);
            m_answered = true;
            Q_EMIT answerTaken();
            break;
        }
        case HeldVerdict::Kind::Exception:
            dropHead(verdict.length);
            if (m_answered)
                break;
            m_answered = true;
            Q_EMIT exceptionTaken(verdict.code);
            break;
        case HeldVerdict::Kind::Foreign:
        case HeldVerdict::Kind::Drop:
            // Told once per poll, and only before its answer.
            if (!m_badReported && !m_answered) {
                m_badReported = true;
                Q_EMIT badBytesDropped();
            }
            dropHead(verdict.length);
            break;
        }
    }
}

void AnswerCollector::dropHead(int count) {
    const int held = Data::rxCount;
    count = std::min(count, held);
    std::copy(Data::rxBuffer.begin() + count, Data::rxBuffer.begin() + held,
              Data::rxBuffer.begin());
    Data::rxCount = static_cast<int16_t>(held - count);
}

} // namespace tklink
