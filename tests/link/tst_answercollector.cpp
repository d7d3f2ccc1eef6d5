#include <QTest>

#include "AnswerCollector.h"
#include "Data.h"
#include "ModbusReference.h"
#include "PollWatch.h"

#include <memory>
#include <random>
#include <vector>

using tklink::AnswerCollector;

namespace {

const QDateTime answerTime(QDate(2024, 5, 17), QTime(14, 3, 7));
const QString badText = QStringLiteral("Bad answer from controler 14:03:07");
const QString receivedText = QStringLiteral("Data received from controler 14:03:07");

using Bytes = std::vector<uint8_t>;

struct Values {
    float measure;
    float setpoint;
    float power;
    bool operator==(const Values&) const = default;
};

Values heldValues() {
    return {Data::measureRaw, Data::setpointRaw, Data::powerRaw};
}

// Values no register decodes to, so that any decode shows.
void markValuesUnset() {
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0.5f;
}

Bytes flipped(Bytes frame, std::initializer_list<int> bits) {
    for (const int bit : bits)
        frame[std::size_t(bit / 8)] ^= uint8_t(1u << (bit % 8));
    return frame;
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestAnswerCollector : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void bitFlipsRejected_data();
    void bitFlipsRejected();
    void millionRandomFrames();

private:
    // One poll: the request goes out, then the bytes come in.
    void poll(const Bytes& bytes);

    std::unique_ptr<AnswerCollector> m_collector;
    CollectorWords m_seen;
};

void TestAnswerCollector::init() {
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
    markValuesUnset();
    m_collector = std::make_unique<AnswerCollector>();
    m_seen = {};
    wordCollector(*m_collector, answerTime.time(), m_seen);
}

void TestAnswerCollector::cleanup() {
    m_collector.reset();
}

void TestAnswerCollector::poll(const Bytes& bytes) {
    // As the poll tick does before it sends.
    Data::rxCount = 0;
    m_collector->requestSent();
    m_seen = {};
    for (const uint8_t byte : bytes)
        m_collector->take(byte);
}

void TestAnswerCollector::bitFlipsRejected_data() {
    QTest::addColumn<Bytes>("answer");
    QTest::addColumn<QString>("measured");
    QTest::addColumn<QString>("setpoint");

    QTest::newRow("215.3 / 200 / 45") << reference::answer(2153, 2000, 45) << "215.3"
                                      << "200";
    QTest::newRow("-5.5 / -20 / 0") << reference::answer(-55, -200, 0) << "-5.5"
                                    << "-20";
    QTest::newRow("all zero") << reference::answer(0, 0, 0) << "0"
                              << "0";
    QTest::newRow("16-bit extremes") << reference::answer(-32768, 32767, -1) << "-3276.8"
                                     << "3276.7";
}

// CRC-16/MODBUS has a Hamming distance of 4 over a frame this short, and the
// header is checked as well: no one or two flipped bits may pass. Every flip
// goes through the path the program uses, from a fresh poll.
void TestAnswerCollector::bitFlipsRejected() {
    QFETCH(Bytes, answer);
    QCOMPARE(answer.size(), std::size_t(11));

    // The unflipped answer passes, so a rejection below is the flip's doing.
    poll(answer);
    QCOMPARE(m_seen.readouts.size(), 1);
    QTEST(m_seen.readouts.at(0).at(0), "measured");
    QTEST(m_seen.readouts.at(0).at(1), "setpoint");
    QCOMPARE(m_seen.statuses.size(), 1);
    QCOMPARE(m_seen.statuses.at(0), receivedText);

    const int bits = int(answer.size()) * 8;
    int single = 0;
    int pairs = 0;
    for (int first = 0; first < bits; ++first) {
        for (int second = first; second < bits; ++second) {
            markValuesUnset();
            const Bytes frame =
                first == second ? flipped(answer, {first}) : flipped(answer, {first, second});
            poll(frame);
            if (!m_seen.readouts.isEmpty() || heldValues() != Values{8888.0f, 8888.0f, 0.5f} ||
                m_seen.statuses.size() != 1 || m_seen.statuses.at(0) != badText) {
                qWarning() << "bits" << first << second << "frame"
                           << QByteArray(reinterpret_cast<const char*>(frame.data()), 11).toHex(' ')
                           << "statuses" << m_seen.statuses;
                QFAIL("a flipped answer was not rejected with one report");
            }
            QVERIFY(Data::rxCount >= 0 && Data::rxCount <= 10);
            ++(first == second ? single : pairs);
        }
    }
    QCOMPARE(single, 88);
    QCOMPARE(pairs, 3828);
}

// A million frames of every kind the line can bring, from a seeded generator:
// random bytes, valid answers and exceptions, the same with random mutations,
// truncations, and concatenations of those. Each is one poll. Every decode
// must be of eleven bytes that the reference check finds valid, into exactly
// their registers; every clean answer must be decoded.
void TestAnswerCollector::millionRandomFrames() {
    std::mt19937 random(20240517);
    const auto below = [&random](int n) { return int(random() % unsigned(n)); };
    const auto randomBytes = [&](int count) {
        Bytes bytes(std::size_t(count), 0);
        for (uint8_t& byte : bytes)
            byte = uint8_t(random());
        return bytes;
    };
    const auto validAnswer = [&] {
        return reference::answer(int16_t(random()), int16_t(random()), int16_t(random()));
    };
    const auto validException = [&] {
        Bytes frame{9, 0x83, uint8_t(1 + below(4))};
        const uint16_t crc = reference::crc16(frame);
        frame.push_back(uint8_t(crc & 0xFF));
        frame.push_back(uint8_t(crc >> 8));
        return frame;
    };
    const auto mutated = [&](Bytes frame) {
        for (int n = 1 + below(3); n > 0 && !frame.empty(); --n) {
            const auto at = std::size_t(below(int(frame.size())));
            switch (below(4)) {
            case 0:
                frame[at] ^= uint8_t(1u << below(8));
                break;
            case 1:
                frame[at] = uint8_t(random());
                break;
            case 2:
                frame.insert(frame.begin() + std::ptrdiff_t(at), uint8_t(random()));
                break;
            default:
                frame.erase(frame.begin() + std::ptrdiff_t(at));
                break;
            }
        }
        return frame;
    };

    // Judged as each frame is taken, against the bytes of the current poll.
    Bytes stream;
    int wrongDecodes = 0;
    int wrongExceptions = 0;
    int answers = 0;
    int exceptions = 0;
    int badReports = 0;
    const auto judgeAnswer = [&] {
        ++answers;
        const uint8_t* frame = stream.data() + stream.size() - 11;
        if (stream.size() < 11 || !reference::isValidAnswer(frame) ||
            heldValues() != Values{float(reference::registerValue(frame + 3)),
                                   float(reference::registerValue(frame + 5)),
                                   float(reference::registerValue(frame + 7))})
            ++wrongDecodes;
    };
    const auto judgeException = [&](int code) {
        ++exceptions;
        bool found = false;
        for (std::size_t back = 5; back <= std::min<std::size_t>(11, stream.size()); ++back) {
            const uint8_t* frame = stream.data() + stream.size() - back;
            found = found || (reference::isValidException(frame) && frame[2] == code);
        }
        wrongExceptions += found ? 0 : 1;
    };
    // Kept words would pile up over a million frames; these look and forget.
    m_collector = std::make_unique<AnswerCollector>();
    connect(m_collector.get(), &AnswerCollector::answerTaken, this, judgeAnswer);
    connect(m_collector.get(), &AnswerCollector::exceptionTaken, this, judgeException);
    connect(m_collector.get(), &AnswerCollector::badBytesDropped, this, [&] { ++badReports; });

    constexpr int frameCount = 1'000'000;
    int framesFed = 0;
    int cleanAnswers = 0;
    int cleanAnswersMissed = 0;
    int truncatedDecoded = 0;
    for (; framesFed < frameCount; ++framesFed) {
        Bytes frame;
        std::optional<Values> clean;
        const int kind = below(10);
        if (kind == 0) {
            frame = randomBytes(1 + below(30));
        } else if (kind <= 2) {
            // A clean answer, alone or behind line noise.
            frame = below(2) == 0 ? Bytes() : randomBytes(1 + below(20));
            const Bytes answer = validAnswer();
            frame.insert(frame.end(), answer.begin(), answer.end());
            clean = Values{float(reference::registerValue(&answer[3])),
                           float(reference::registerValue(&answer[5])),
                           float(reference::registerValue(&answer[7]))};
        } else if (kind <= 5) {
            frame = mutated(validAnswer());
        } else if (kind == 6) {
            frame = validAnswer();
            frame.resize(1 + std::size_t(below(10)));
        } else if (kind == 7) {
            frame = below(2) == 0 ? validException() : mutated(validException());
        } else {
            for (int piece = 2 + below(2); piece > 0; --piece) {
                const Bytes part = below(2) == 0 ? mutated(validAnswer()) : randomBytes(below(12));
                frame.insert(frame.end(), part.begin(), part.end());
            }
        }

        stream.clear();
        const int answersBefore = answers;
        Data::rxCount = 0;
        m_collector->requestSent();
        for (const uint8_t byte : frame) {
            stream.push_back(byte);
            m_collector->take(byte);
        }
        if (clean) {
            ++cleanAnswers;
            // cppcheck-suppress knownConditionTrueFalse ; judgeAnswer counts, through a signal
            if (answers == answersBefore || heldValues() != *clean)
                ++cleanAnswersMissed;
        }
        // cppcheck-suppress knownConditionTrueFalse ; judgeAnswer counts, through a signal
        if (kind == 6 && answers != answersBefore)
            ++truncatedDecoded;
    }

    qInfo("%d frames: %d decoded, %d exceptions, %d bad-answer reports", framesFed, answers,
          exceptions, badReports);
    QCOMPARE(framesFed, 1'000'000);
    QCOMPARE(wrongDecodes, 0);
    QCOMPARE(wrongExceptions, 0);
    QCOMPARE(truncatedDecoded, 0);
    QCOMPARE(cleanAnswersMissed, 0);
    QVERIFY(cleanAnswers > 150'000);
    QVERIFY(answers >= cleanAnswers);
    QVERIFY(badReports > 0);
    QVERIFY(exceptions > 0);
}

QTEST_GUILESS_MAIN(TestAnswerCollector)
#include "tst_answercollector.moc"
