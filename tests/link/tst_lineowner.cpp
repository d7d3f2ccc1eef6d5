#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "FakeLine.h"
#include "LineOwner.h"
#include "ReceiveStep.h"

using tklink::Exchange;
using tklink::ExchangeEnd;
using tklink::HeldVerdict;
using tklink::LineOwner;
using tklink::Reply;

Q_DECLARE_METATYPE(HeldVerdict::Kind)
Q_DECLARE_METATYPE(Reply)

namespace {

// CRC bytes computed with an independent bitwise CRC-16/MODBUS (Python).
const QByteArray poll9 = QByteArray::fromHex("0903000100035543");
const QByteArray poll10 = QByteArray::fromHex("0A03000100035570");
const QByteArray answer9 = QByteArray::fromHex("090306086907D0002DDB64");  // 215.3, 200, 45
const QByteArray answer10 = QByteArray::fromHex("0A0306086907D0002DCF94"); // the same from 10
const QByteArray exception9 = QByteArray::fromHex("0983024133");           // code 2
const QByteArray write6 = QByteArray::fromHex("0906000208342F55");         // setpoint 210.0
const QByteArray write16 = QByteArray::fromHex("091000020001020834C665");  // the same, function 16
const QByteArray write16Answer = QByteArray::fromHex("091000020001A141");
const QByteArray write6Refused = QByteArray::fromHex("09860383A3"); // code 3

QString endWord(const ExchangeEnd& end) {
    static const char* const words[] = {"answer", "exception", "no answer", "bad answer", "lost"};
    QString word = QString::fromLatin1(words[int(end.kind)]);
    if (end.kind == ExchangeEnd::Kind::Exception)
        word += QLatin1Char(' ') + QString::number(end.code);
    if (end.foreign)
        word += QStringLiteral(" (foreign)");
    return word;
}

} // namespace

class TestLineOwner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void receiveStep_data();
    void receiveStep();
    void exchange_data();
    void exchange();
    void silenceBetweenFrames();
    void writeBetweenTwoPolls();
};

void TestLineOwner::receiveStep_data() {
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<HeldVerdict::Kind>("kind");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("code");

    using K = HeldVerdict::Kind;
    const Reply r = Reply::Registers;
    const Reply w = Reply::WriteEcho;
    QTest::newRow("answer") << answer9 << poll9 << r << K::Answer << 11 << 0;
    QTest::newRow("answer, first half") << answer9.first(6) << poll9 << r << K::NeedMore << 0 << 0;
    QTest::newRow("our request echoed") << poll9 + answer9 << poll9 << r << K::Echo << 8 << 0;
    QTest::newRow("echo, first half") << poll9.first(4) << poll9 << r << K::NeedMore << 0 << 0;
    QTest::newRow("exception") << exception9 << poll9 << r << K::Exception << 5 << 2;
    QTest::newRow("another slave's answer") << answer10 << poll9 << r << K::Foreign << 11 << 0;
    QTest::newRow("another slave's answer, first byte")
        << answer10.first(1) << poll9 << r << K::Drop << 1 << 0;
    QTest::newRow("wrong CRC") << QByteArray::fromHex("090306086907D0002DDB65") << poll9 << r
                               << K::Drop << 1 << 0;
    QTest::newRow("noise") << QByteArray::fromHex("00FF") << poll9 << r << K::Drop << 1 << 0;
    QTest::newRow("no request on the line") << answer9 << QByteArray() << r << K::Drop << 1 << 0;
    QTest::newRow("function 6: the echo is the answer")
        << write6 << write6 << w << K::Answer << 8 << 0;
    QTest::newRow("function 16: echo, then the answer")
        << write16 + write16Answer << write16 << w << K::Echo << 11 << 0;
    QTest::newRow("function 16 answer") << write16Answer << write16 << w << K::Answer << 8 << 0;
    QTest::newRow("write refused") << write6Refused << write6 << w << K::Exception << 5 << 3;
    QTest::newRow("a poll's answer to a write") << answer9 << write6 << w << K::Drop << 1 << 0;
}

void TestLineOwner::receiveStep() {
    QFETCH(QByteArray, held);
    QFETCH(QByteArray, request);
    QFETCH(Reply, reply);
    const HeldVerdict verdict =
        tklink::judgeHeld(tklink::byteSpan(held), tklink::byteSpan(request), reply);
    QTEST(verdict.kind, "kind");
    QTEST(verdict.length, "length");
    QTEST(int(verdict.code), "code");
}

void TestLineOwner::exchange_data() {
    QTest::addColumn<QList<QByteArray>>("reads");
    // Ends the wait after the reads, as the answer time-out would.
    QTest::addColumn<bool>("timeOut");
    QTest::addColumn<QList<QByteArray>>("lateReads");
    QTest::addColumn<QStringList>("events");

    using L = QList<QByteArray>;
    QTest::newRow("answer in one read")
        << L{answer9} << false << L{} << QStringList{"sent", "ended: answer"};
    QTest::newRow("answer over three reads")
        << L{answer9.first(2), answer9.mid(2, 5), answer9.mid(7)} << false << L{}
        << QStringList{"sent", "ended: answer"};
    QTest::newRow("echo, then the answer") << L{poll9.first(5), poll9.mid(5) + answer9} << false
                                           << L{} << QStringList{"sent", "ended: answer"};
    QTest::newRow("exception") << L{exception9} << false << L{}
                               << QStringList{"sent", "ended: exception 2"};
    QTest::newRow("another slave, then ours")
        << L{answer10, answer9} << false << L{}
        << QStringList{"sent", "bad bytes", "ended: answer (foreign)"};
    QTest::newRow("noise told once")
        << L{QByteArray::fromHex("00"), QByteArray::fromHex("FF")} << true << L{}
        << QStringList{"sent", "bad bytes", "ended: bad answer"};
    QTest::newRow("nothing") << L{} << true << L{} << QStringList{"sent", "ended: no answer"};
    QTest::newRow("half an answer")
        << L{answer9.first(6)} << true << L{} << QStringList{"sent", "ended: bad answer"};
    QTest::newRow("late answer") << L{} << true << L{answer9}
                                 << QStringList{"sent", "ended: no answer", "late: answer"};
    QTest::newRow("late answer twice, told once")
        << L{} << true << L{answer9 + answer9}
        << QStringList{"sent", "ended: no answer", "late: answer"};
    QTest::newRow("second answer after the first, not told")
        << L{answer9 + answer9} << false << L{} << QStringList{"sent", "ended: answer"};
}

void TestLineOwner::exchange() {
    QFETCH(QList<QByteArray>, reads);
    QFETCH(bool, timeOut);
    QFETCH(QList<QByteArray>, lateReads);
    FakeLine line;
    LineOwner owner(line);
    QStringList events;
    connect(&owner, &LineOwner::sent, this, [&] { events << "sent"; });
    connect(&owner, &LineOwner::badBytes, this, [&] { events << "bad bytes"; });
    connect(&owner, &LineOwner::ended, this,
            [&](const ExchangeEnd& end) { events << "ended: " + endWord(end); });
    connect(&owner, &LineOwner::late, this,
            [&](const ExchangeEnd& end) { events << "late: " + endWord(end); });
    const int id = owner.enqueue({poll9, Reply::Registers, 0, {}});
    QTRY_COMPARE(line.written, QList<QByteArray>{poll9});
    for (const QByteArray& read : reads)
        line.arrive(read);
    if (timeOut)
        owner.expire(id);
    for (const QByteArray& read : lateReads)
        line.arrive(read);
    QTEST(events, "events");
}

// The end of one exchange and the next request are 3.5 characters apart
// (1750 µs, 2 ms in whole milliseconds) plus the extra gap, on a clock of
// the test's own.
void TestLineOwner::silenceBetweenFrames() {
    FakeLine line;
    LineOwner owner(line);
    qint64 now = 1000;
    owner.setMonotonic([&now] { return now; });
    owner.setExtraGapMs(3);
    auto* send = owner.findChild<QTimer*>(QStringLiteral("timerLineSend"));
    owner.enqueue({poll9, Reply::Registers, 0, {}});
    QTRY_COMPARE(line.written.size(), 1);
    line.arrive(answer9);
    owner.enqueue({poll10, Reply::Registers, 0, {}});
    QVERIFY(send->isActive());
    QCOMPARE(send->interval(), 5);
    now += 4;
    Q_EMIT send->timeout({});
    QCOMPARE(line.written.size(), 1);
    now += 1;
    QTRY_COMPARE(line.written.size(), 2);
    QCOMPARE(line.written.last(), poll10);
}

// A write queued while a poll is on the line goes out after that poll's
// answer and before the next poll; the device lost mid-exchange ends it and
// everything queued.
void TestLineOwner::writeBetweenTwoPolls() {
    FakeLine line;
    LineOwner owner(line);
    QStringList ends;
    connect(&owner, &LineOwner::ended, this,
            [&](const ExchangeEnd& end) { ends << QString::number(end.id) + " " + endWord(end); });
    const int poll = owner.enqueue({poll9, Reply::Registers, 0, {}});
    QTRY_COMPARE(line.written.size(), 1);
    const int write = owner.enqueue({write6, Reply::WriteEcho, 0, {}});
    const int next = owner.enqueue({poll9, Reply::Registers, 0, {}});
    line.arrive(answer9);
    QTRY_COMPARE(line.written, (QList<QByteArray>{poll9, write6}));
    line.arrive(write6);
    QTRY_COMPARE(line.written, (QList<QByteArray>{poll9, write6, poll9}));
    const int after = owner.enqueue({poll9, Reply::Registers, 0, {}});
    line.loseDevice();
    QCOMPARE(ends,
             (QStringList{QString::number(poll) + " answer", QString::number(write) + " answer",
                          QString::number(next) + " lost", QString::number(after) + " lost"}));
    QCOMPARE(line.discards, 3);
}

QTEST_GUILESS_MAIN(TestLineOwner)
#include "tst_lineowner.moc"
