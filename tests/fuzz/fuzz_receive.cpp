// The receive path on arbitrary bytes in arbitrary chunks.
//
// Input: records of a control byte and a chunk. The control byte's low seven
// bits plus one give the chunk's length (the last chunk takes what is left);
// its top bit first sends a request, as the poll tick does.
//
// Judged after every byte, against the bytes received since the request:
// an answer is decoded only when the eleven bytes just received are a valid
// answer by the reference check, and into exactly its registers; an exception
// only from five valid bytes among the last eleven; values stay put otherwise; the bytes held are
// the last ones received; a bad answer is told at most once per poll, never
// before the first request or after the poll's answer, and always when bytes
// of an unanswered poll are dropped, but for an echo of the request.

#include "AnswerCollector.h"
#include "Data.h"
#include "FuzzTarget.h"
#include "ModbusReference.h"
#include "PollWatch.h"

#include <QLocale>

#include <cstring>
#include <vector>

namespace {

const QDateTime answerTime(QDate(2024, 5, 17), QTime(14, 3, 7));
const QString receivedText = QStringLiteral("Data received from controler 14:03:07");
const QString badText = QStringLiteral("Bad answer from controler 14:03:07");

// Tenths of a degree as the read-outs show them, by integer arithmetic.
QString degrees(int tenths) {
    const int magnitude = tenths < 0 ? -tenths : tenths;
    QString text = QString::number(magnitude / 10);
    if (magnitude % 10 != 0)
        text += QLatin1Char('.') + QString::number(magnitude % 10);
    return tenths < 0 ? QLatin1Char('-') + text : text;
}

// An exception is found either at the byte just received or, when a longer
// head was dropped as bad, inside the at most eleven bytes that head held.
bool exceptionAmongLast(const std::vector<uint8_t>& received, const QString& status) {
    for (std::size_t back = 5; back <= std::min<std::size_t>(11, received.size()); ++back) {
        const uint8_t* frame = received.data() + received.size() - back;
        if (reference::isValidException(frame) && status == QStringLiteral("Controler exception ") +
                                                                QString::number(frame[2]) +
                                                                QStringLiteral(" 14:03:07"))
            return true;
    }
    return false;
}

struct Poll {
    std::vector<uint8_t> received; // since the request
    bool requested = false;
    bool answered = false;
    bool badReported = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0.5f; // no register decodes to this

    tklink::AnswerCollector collector;
    CollectorWords seen;
    wordCollector(collector, answerTime.time(), seen);

    Poll poll;
    std::size_t i = 0;
    while (i < size) {
        const uint8_t control = data[i++];
        if (control & 0x80) {
            Data::rxCount = 0;
            collector.requestSent();
            poll = Poll{};
            poll.requested = true;
        }
        const std::size_t end = std::min(size, i + (control & 0x7F) + 1);
        for (; i < end; ++i) {
            const float before[3] = {Data::measureRaw, Data::setpointRaw, Data::powerRaw};
            const int heldBefore = Data::rxCount;
            seen = CollectorWords{};
            poll.received.push_back(data[i]);
            collector.take(data[i]);

            const std::vector<uint8_t>& got = poll.received;
            const int held = Data::rxCount;
            FUZZ_CHECK(held >= 0 && held <= 10);
            FUZZ_CHECK(std::size_t(held) <= got.size());
            FUZZ_CHECK(std::memcmp(Data::rxBuffer.data(), got.data() + got.size() - held,
                                   std::size_t(held)) == 0);

            int answers = 0;
            int exceptions = 0;
            bool bad = false;
            for (const QString& status : std::as_const(seen.statuses)) {
                if (status == receivedText) {
                    ++answers;
                } else if (status == badText) {
                    // Drops come before any frame found by the same byte.
                    FUZZ_CHECK(!bad && answers == 0 && exceptions == 0);
                    FUZZ_CHECK(poll.requested && !poll.answered && !poll.badReported);
                    bad = true;
                } else {
                    FUZZ_CHECK(exceptionAmongLast(got, status));
                    ++exceptions;
                }
            }
            poll.badReported = poll.badReported || bad;
            FUZZ_CHECK(answers + exceptions <= 1);
            FUZZ_CHECK(seen.readouts.size() == answers);

            if (answers == 1) {
                FUZZ_CHECK(got.size() >= 11);
                const uint8_t* frame = got.data() + got.size() - 11;
                FUZZ_CHECK(reference::isValidAnswer(frame));
                const int measure = reference::registerValue(frame + 3);
                const int setpoint = reference::registerValue(frame + 5);
                FUZZ_CHECK(Data::measureRaw == float(measure));
                FUZZ_CHECK(Data::setpointRaw == float(setpoint));
                FUZZ_CHECK(Data::powerRaw == float(reference::registerValue(frame + 7)));
                FUZZ_CHECK(seen.readouts[0][0] == degrees(measure));
                FUZZ_CHECK(seen.readouts[0][1] == degrees(setpoint));
            } else {
                FUZZ_CHECK(Data::measureRaw == before[0]);
                FUZZ_CHECK(Data::setpointRaw == before[1]);
                FUZZ_CHECK(Data::powerRaw == before[2]);
            }

            // Our own request heard back (an adapter that echoes) is let go
            // without a word: it is no answer and no bad one.
            static constexpr uint8_t request[] = {0x09, 0x03, 0x00, 0x01, 0x00, 0x03, 0x55, 0x43};
            const bool echoEnds = heldBefore == 7 && held == 0 && got.size() >= 8 &&
                                  std::memcmp(got.data() + got.size() - 8, request, 8) == 0;
            const int dropped =
                heldBefore + 1 - held - 11 * answers - 5 * exceptions - (echoEnds ? 8 : 0);
            FUZZ_CHECK(dropped >= 0);
            if (dropped > 0 && poll.requested && !poll.answered)
                FUZZ_CHECK(poll.badReported);
            poll.answered = poll.answered || answers + exceptions > 0;
        }
    }
    return 0;
}
