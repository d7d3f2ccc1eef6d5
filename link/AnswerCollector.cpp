#include "AnswerCollector.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LinkLog.h"

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
        const EchoHead echo = checkEcho(held, request);
        if (echo == EchoHead::Partial)
            return;
        if (echo == EchoHead::Whole) {
            dropHead(int(request.size()));
            continue;
        }
        switch (checkHead(held)) {
        case FrameHead::NeedMore:
            return;

        case FrameHead::Answer: {
            if (m_answered) {
                // A second answer to one request (another master, a confused
                // converter) must not replace the first one's values.
                dropHead(answerLength);
                break;
            }
            const AnswerValues values = *decodeAnswer(held);
            qCDebug(lcLinkFrames)
                << "rx"
                << QByteArray(reinterpret_cast<const char*>(held.data()), answerLength).toHex(' ');
            Data::measureRaw = values.measure;
            Data::setpointRaw = values.setpoint;
            Data::powerRaw = values.power;
            dropHead(answerLength);
            m_answered = true;
            Q_EMIT answerTaken();
            break;
        }

        case FrameHead::Exception: {
            const uint8_t code = *exceptionCode(held);
            dropHead(exceptionLength);
            if (m_answered)
                break;
            m_answered = true;
            Q_EMIT exceptionTaken(code);
            break;
        }

        case FrameHead::Bad:
            // Whatever cannot start a valid frame is dropped, and told once
            // per poll: a wrong address is as much a fault as a wrong CRC, and
            // the rest of the same bad frame must not repeat the report.
            // Bytes behind this poll's answer (a line turning round, a
            // padded frame) cost nothing and leave its status in place.
            if (!m_badReported && !m_answered) {
                m_badReported = true;
                qCDebug(lcLinkFrames) << "bad head"
                                      << QByteArray(reinterpret_cast<const char*>(held.data()),
                                                    qsizetype(held.size()))
                                             .toHex(' ');
                Q_EMIT badBytesDropped();
            }
            dropHead(1);
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
