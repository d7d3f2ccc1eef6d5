#include <QTest>

#include "AnswerFrame.h"
#include "SetpointFrame.h"
#include "SetpointOutcome.h"

using tklink::FrameHead;

Q_DECLARE_METATYPE(FrameHead)

namespace {

std::span<const uint8_t> bytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

// The answer for 215.3 / 200.0 / power 45. Here and below, CRC bytes were
// computed with an independent bitwise CRC-16/MODBUS (Python).
const QByteArray goodAnswer = QByteArray::fromHex("090306086907D0002DDB64");

} // namespace

class TestAnswerFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void crcReference_data();
    void crcReference();
    void head_data();
    void head();
    void registers_data();
    void registers();
    void exceptionCodeOnlyFromAnException();
    void writeAnswer_data();
    void writeAnswer();
    void setpointOutcome_data();
    void setpointOutcome();
};

void TestAnswerFrame::crcReference_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");

    QTest::newRow("check value over 123456789") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("no bytes") << QByteArray() << 0xFFFF;
    QTest::newRow("poll request") << QByteArray::fromHex("090300010003") << 0x4355;
    QTest::newRow("answer 215.3 / 200 / 45") << goodAnswer.first(9) << 0x64DB;
}

void TestAnswerFrame::crcReference() {
    QFETCH(QByteArray, bytes);
    QTEST(int(tklink::crc16Modbus(bytesOf(bytes))), "crc");
}

void TestAnswerFrame::head_data() {
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<FrameHead>("head");

    QTest::newRow("nothing held") << QByteArray() << FrameHead::NeedMore;
    QTest::newRow("good answer") << goodAnswer << FrameHead::Answer;
    QTest::newRow("good answer and the next byte")
        << goodAnswer + QByteArray::fromHex("09") << FrameHead::Answer;
    QTest::newRow("negative temperature")
        << QByteArray::fromHex("090306FFC9FF3800003F73") << FrameHead::Answer;
    QTest::newRow("wrong CRC") << QByteArray::fromHex("090306086907D0002DDB65") << FrameHead::Bad;
    QTest::newRow("CRC bytes swapped")
        << QByteArray::fromHex("090306086907D0002D64DB") << FrameHead::Bad;
    QTest::newRow("wrong address") << QByteArray::fromHex("0A") << FrameHead::Bad;
    QTest::newRow("stray zero byte") << QByteArray::fromHex("00") << FrameHead::Bad;
    QTest::newRow("wrong function") << QByteArray::fromHex("0904") << FrameHead::Bad;
    QTest::newRow("write function") << QByteArray::fromHex("0906") << FrameHead::Bad;
    QTest::newRow("byte count 4") << QByteArray::fromHex("090304") << FrameHead::Bad;
    QTest::newRow("byte count 6 waits") << QByteArray::fromHex("090306") << FrameHead::NeedMore;
    QTest::newRow("ten bytes of an answer wait") << goodAnswer.first(10) << FrameHead::NeedMore;
    QTest::newRow("exception") << QByteArray::fromHex("0983024133") << FrameHead::Exception;
    QTest::newRow("exception waits for its CRC")
        << QByteArray::fromHex("09830241") << FrameHead::NeedMore;
    QTest::newRow("exception with wrong CRC")
        << QByteArray::fromHex("0983024134") << FrameHead::Bad;
}

void TestAnswerFrame::head() {
    QFETCH(QByteArray, held);
    QTEST(tklink::checkHead(bytesOf(held)), "head");
}

void TestAnswerFrame::registers_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("measure");
    QTest::addColumn<int>("setpoint");
    QTest::addColumn<int>("power");

    QTest::newRow("215.3 / 200 / 45") << goodAnswer << 2153 << 2000 << 45;
    QTest::newRow("-5.5 / -20 / 0")
        << QByteArray::fromHex("090306FFC9FF3800003F73") << -55 << -200 << 0;
    QTest::newRow("all zero") << QByteArray::fromHex("09030600000000000046B5") << 0 << 0 << 0;
    QTest::newRow("16-bit extremes")
        << QByteArray::fromHex("09030680007FFFFFFF7121") << -32768 << 32767 << -1;
}

void TestAnswerFrame::registers() {
    QFETCH(QByteArray, frame);
    const std::optional<tklink::AnswerValues> values = tklink::decodeAnswer(bytesOf(frame));
    QVERIFY(values.has_value());
    QTEST(int(values->measure), "measure");
    QTEST(int(values->setpoint), "setpoint");
    QTEST(int(values->power), "power");
}

void TestAnswerFrame::exceptionCodeOnlyFromAnException() {
    // Exception 2, illegal data address.
    QCOMPARE(tklink::exceptionCode(bytesOf(QByteArray::fromHex("0983024133"))),
             std::optional<uint8_t>(2));
    QCOMPARE(tklink::exceptionCode(bytesOf(QByteArray::fromHex("0983024134"))),
             std::optional<uint8_t>());
    QCOMPARE(tklink::exceptionCode(bytesOf(goodAnswer)), std::optional<uint8_t>());
    QVERIFY(!tklink::decodeAnswer(bytesOf(QByteArray::fromHex("0983024133"))).has_value());
}

void TestAnswerFrame::writeAnswer_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<int>("kind"); // WriteAnswer::Kind
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("words"); // the exception in the operator's words

    using Kind = tklink::WriteAnswer::Kind;
    const QByteArray write6 = QByteArray::fromHex("0906000207D02AEE");        // 200.0 to 9
    const QByteArray write16 = QByteArray::fromHex("0A100002000102FFC95524"); // -5.5 to 10
    QTest::newRow("6: exact echo") << write6 << write6 << int(Kind::Accepted) << 8 << QString();
    QTest::newRow("6: echo of another value")
        << write6 << QByteArray::fromHex("0906000205DC2B8B") << int(Kind::Bad) << 0 << QString();
    QTest::newRow("6: echo waits for its CRC")
        << write6 << write6.first(7) << int(Kind::NeedMore) << 0 << QString();
    QTest::newRow("6: echo with wrong CRC")
        << write6 << QByteArray::fromHex("0906000207D02AEF") << int(Kind::Bad) << 0 << QString();
    QTest::newRow("16: address, function, start and count")
        << write16 << QByteArray::fromHex("0A1000020001A172") << int(Kind::Accepted) << 8
        << QString();
    QTest::newRow("16: count 2") << write16 << QByteArray::fromHex("0A1000020002") << int(Kind::Bad)
                                 << 0 << QString();
    QTest::newRow("exception 1") << write6 << QByteArray::fromHex("0986010262")
                                 << int(Kind::Exception) << 5
                                 << "the controller does not accept setpoint writes";
    QTest::newRow("exception 2") << write6 << QByteArray::fromHex("0986024263")
                                 << int(Kind::Exception) << 5
                                 << "the controller does not accept setpoint writes";
    QTest::newRow("exception 3") << write6 << QByteArray::fromHex("09860383A3")
                                 << int(Kind::Exception) << 5 << "value refused";
    QTest::newRow("exception 3 to function 16") << write16 << QByteArray::fromHex("0A90037DC3")
                                                << int(Kind::Exception) << 5 << "value refused";
    QTest::newRow("exception 4") << write6 << QByteArray::fromHex("098604C261")
                                 << int(Kind::Exception) << 5 << "the controller failed";
    QTest::newRow("exception 6") << write6 << QByteArray::fromHex("09860643A0")
                                 << int(Kind::Exception) << 5 << "busy: try again later";
    QTest::newRow("exception 4 of a poll is no answer to a write")
        << write6 << QByteArray::fromHex("098301") << int(Kind::Bad) << 0 << QString();
    QTest::newRow("exception waits for its CRC")
        << write6 << QByteArray::fromHex("09860383") << int(Kind::NeedMore) << 0 << QString();
    QTest::newRow("exception with wrong CRC")
        << write6 << QByteArray::fromHex("09860383A4") << int(Kind::Bad) << 0 << QString();
    QTest::newRow("another slave's echo")
        << write6 << QByteArray::fromHex("0A06") << int(Kind::Bad) << 0 << QString();
}

void TestAnswerFrame::writeAnswer() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, held);
    QFETCH(QString, words);
    const tklink::WriteAnswer answer = tklink::checkWriteAnswer(bytesOf(held), bytesOf(request));
    QTEST(int(answer.kind), "kind");
    QTEST(answer.length, "length");
    if (answer.kind == tklink::WriteAnswer::Kind::Exception)
        QCOMPARE(tklink::writeExceptionText(answer.code), words);
}

// 150.0 → 190.0 °C: the setpoint read back after the write decides, whatever
// its answer was; the answer only says why when nothing was read back.
void TestAnswerFrame::setpointOutcome_data() {
    QTest::addColumn<int>("reply");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("readBack"); // -1: none in time
    QTest::addColumn<QString>("words");
    using R = tklink::WriteReply::Kind;
    QTest::newRow("confirmed, read back") << int(R::Confirmed) << 0 << 1900 << "accepted";
    QTest::newRow("answer lost, read back")
        << int(R::Lost) << 0 << 1900 << "taken (its answer was lost)";
    QTest::newRow("clamped by the controller")
        << int(R::Confirmed) << 0 << 1850 << "the controller set 185.0 °C, not 190.0";
    QTest::newRow("answer lost, clamped")
        << int(R::Lost) << 0 << 1850 << "the controller set 185.0 °C, not 190.0";
    QTest::newRow("confirmed, unchanged") << int(R::Confirmed) << 0 << 1500 << "not taken";
    QTest::newRow("answer lost, unchanged") << int(R::Lost) << 0 << 1500 << "not taken";
    QTest::newRow("refused, unchanged")
        << int(R::Exception) << 3 << 1500 << "refused: value refused";
    QTest::newRow("refused, yet taken")
        << int(R::Exception) << 3 << 1900 << "taken (though it answered exception 3)";
    QTest::newRow("busy, nothing read back")
        << int(R::Exception) << 6 << -1 << "busy: try again later";
    QTest::newRow("failed controller") << int(R::Exception) << 4 << 1500 << "the controller failed";
    QTest::newRow("no answer, nothing read back")
        << int(R::Lost) << 0 << -1 << "no answer: the controller did not answer in time";
    QTest::newRow("confirmed, nothing read back")
        << int(R::Confirmed) << 0 << -1 << "not read back: the controller did not answer in time";
}

void TestAnswerFrame::setpointOutcome() {
    QFETCH(int, reply);
    QFETCH(int, code);
    QFETCH(int, readBack);
    const tklink::SetpointChange change{{QStringLiteral("oven2"), 10}, 1500, 1900, {}};
    const std::optional<int16_t> shown =
        readBack < 0 ? std::nullopt : std::optional(int16_t(readBack));
    const tklink::SetpointOutcome outcome =
        tklink::setpointOutcome(change, {tklink::WriteReply::Kind(reply), code}, shown,
                                QStringLiteral("the controller did not answer in time"));
    QTEST(tklink::setpointOutcomeText(change, outcome), "words");
}

QTEST_APPLESS_MAIN(TestAnswerFrame)
#include "tst_answerframe.moc"
