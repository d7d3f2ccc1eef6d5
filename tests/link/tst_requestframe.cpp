#include <QRandomGenerator>
#include <QTest>

#include "Data.h"
#include "PortAccess.h"
#include "Pty.h"
#include "RequestFrame.h"
#include "SerialPortControl.h"
#include "SetpointFrame.h"

#include <array>
#include <map>
#include <memory>

using tklink::SerialPortControl;

namespace {

// Reference CRC-16/MODBUS, table-driven as libmodbus and most Modbus stacks
// compute it, and written independently of the binary-text method under test.
class ReferenceCrc {
public:
    ReferenceCrc() {
        for (uint16_t n = 0; n < 256; ++n) {
            uint16_t value = n;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 1) ? uint16_t((value >> 1) ^ 0xA001) : uint16_t(value >> 1);
            m_table[n] = value;
        }
    }
    uint16_t operator()(const QByteArray& bytes) const {
        uint16_t crc = 0xFFFF;
        for (const char c : bytes)
            crc = uint16_t((crc >> 8) ^ m_table[(crc ^ uint8_t(c)) & 0xFF]);
        return crc;
    }

private:
    std::array<uint16_t, 256> m_table{};
};

// Lays out txFrame for a request of n data bytes the way sendRequest does,
// runs modbusCrc and gives the CRC it wrote (high byte << 8 | low byte).
std::optional<uint16_t> crcOfText(const QString& request, int dataBytes) {
    Data::txFrameLast = int16_t(dataBytes + 1);
    Data::txFrame.assign(std::size_t(dataBytes) + 2, 0);
    if (!tklink::modbusCrc(request))
        return std::nullopt;
    return uint16_t(Data::txFrame[std::size_t(dataBytes) + 1] << 8 |
                    Data::txFrame[std::size_t(dataBytes)]);
}

QByteArray txFrameBytes() {
    return QByteArray(reinterpret_cast<const char*>(Data::txFrame.data()),
                      qsizetype(Data::txFrame.size()));
}

} // namespace

class TestRequestFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void hexPair_data();
    void hexPair();
    void crcOddCharacters_data();
    void crcOddCharacters();
    void crcCheckValue();
    void crcMatchesReferenceOnRandomRequests();
    void frameWritten_data();
    void frameWritten();
    void failedRequestWritesNothing_data();
    void failedRequestWritesNothing();
    void closedPortWritesNothing();
    void shorterSecondRequestLeavesNothingBehind();
    void benchmarkPollRequestCrc();

private:
    void openPort();

    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<SerialPortControl> m_port;
};

void TestRequestFrame::init() {
    Data::resetAll();
    m_port.reset();
    m_pty = std::make_unique<Pty>();
    QVERIFY(m_pty->isValid());
}

void TestRequestFrame::openPort() {
    const QString device = m_pty->path();
    m_port = std::make_unique<SerialPortControl>(
        [device](int n) { return n == 4 ? device : QString(); });
    Data::comPortNum = 4;
    Data::comPortSpeed = QStringLiteral("19200");
    tklink::open_port(*m_port);
    QVERIFY(Data::portConnected);
}

void TestRequestFrame::hexPair_data() {
    QTest::addColumn<QString>("pair");
    QTest::addColumn<int>("value"); // -1: the pair fails

    QTest::newRow("09") << "09" << 0x09;
    QTest::newRow("FF") << "FF" << 0xFF;
    QTest::newRow("A0") << "A0" << 0xA0;
    QTest::newRow("3C") << "3C" << 0x3C;
    QTest::newRow("lower-case low digit counts as 0") << "0a" << 0x00;
    QTest::newRow("G as low digit counts as 0") << "7G" << 0x70;
    QTest::newRow("blank low digit counts as 0") << "5 " << 0x50;
    QTest::newRow("lower-case high digit fails") << "a0" << -1;
    QTest::newRow("G as high digit fails") << "G1" << -1;
    QTest::newRow("blank high digit fails") << " 1" << -1;
    QTest::newRow("one digit is both high and low") << "5" << 0x55;
}

void TestRequestFrame::hexPair() {
    QFETCH(QString, pair);
    QFETCH(int, value);
    const std::optional<uint8_t> byte = tklink::hexPairToByte(pair);
    QCOMPARE(byte.has_value(), value >= 0);
    if (byte)
        QCOMPARE(int(*byte), value);
}

void TestRequestFrame::crcOddCharacters_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("crc"); // -1: the CRC fails

    // Expected values from the reference CRC over the bytes the text stands for.
    QTest::newRow("0A") << "0A" << 1 << 0x473F;
    QTest::newRow("G to K add no digits") << "0AGHIJK" << 1 << 0x473F;
    QTest::newRow("blank reads as digit 0") << "0A0 " << 2 << 0x1007; // as 0A 00
    QTest::newRow("# reads as digit 0") << "0A#0" << 2 << 0x1007;
    QTest::newRow("lower-case letter fails") << "0a" << 1 << -1;
    QTest::newRow("L, just above K, fails") << "0A0L" << 2 << -1;
    QTest::newRow("non-ASCII letter fails") << QStringLiteral("0A0\u00C9") << 2 << -1;
    QTest::newRow("empty text leaves FFFF") << "" << 0 << 0xFFFF;
}

void TestRequestFrame::crcOddCharacters() {
    QFETCH(QString, request);
    QFETCH(int, dataBytes);
    QFETCH(int, crc);
    const std::optional<uint16_t> written = crcOfText(request, dataBytes);
    QCOMPARE(written.has_value(), crc >= 0);
    if (written)
        QCOMPARE(int(*written), crc);
    else // nothing stored on failure
        QCOMPARE(txFrameBytes(), QByteArray(dataBytes + 2, '\0'));
}

void TestRequestFrame::crcCheckValue() {
    // The check value of CRC-16/MODBUS over the ASCII digits 1 to 9 (Greg
    // Cook's CRC catalogue).
    QCOMPARE(crcOfText(QStringLiteral("313233343536373839"), 9), std::optional<uint16_t>(0x4B37));
    QCOMPARE(ReferenceCrc()(QByteArrayLiteral("123456789")), uint16_t(0x4B37));
}

void TestRequestFrame::crcMatchesReferenceOnRandomRequests() {
    const ReferenceCrc reference;
    QRandomGenerator random(840960); // fixed seed: a failure can be replayed
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes(random.bounded(0, 41), Qt::Uninitialized);
        for (char& b : bytes)
            b = char(random.bounded(256));
        const QString request = QString::fromLatin1(bytes.toHex().toUpper());
        const std::optional<uint16_t> crc = crcOfText(request, int(bytes.size()));
        QVERIFY2(crc.has_value(), qPrintable(request));
        if (*crc != reference(bytes))
            QFAIL(qPrintable(QStringLiteral("%1: %2 instead of %3")
                                 .arg(request)
                                 .arg(*crc, 4, 16, QLatin1Char('0'))
                                 .arg(reference(bytes), 4, 16, QLatin1Char('0'))));
    }
}

void TestRequestFrame::frameWritten_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("txFrameLast");

    // CRC bytes computed with an independent bitwise CRC-16/MODBUS (Python).
    QTest::newRow("poll request") << "090300010003" << QByteArray::fromHex("0903000100035543") << 7;
    QTest::newRow("setpoint 200.0 to 9, function 6")
        << tklink::setpointWriteText(9, tklink::writeSingleRegister, 2000)
        << QByteArray::fromHex("0906000207D02AEE") << 7;
    QTest::newRow("setpoint -5.5 to 10, function 16 count 1")
        << tklink::setpointWriteText(10, tklink::writeMultipleRegisters, -55)
        << QByteArray::fromHex("0A100002000102FFC95524") << 10;
    QTest::newRow("0A") << "0A" << QByteArray::fromHex("0A3F47") << 2;
    QTest::newRow("A0") << "A0" << QByteArray::fromHex("A0BF38") << 2;
    QTest::newRow("empty request") << "" << QByteArray::fromHex("FFFF") << 1;
    QTest::newRow("ASCII 1 to 9") << "313233343536373839"
                                  << QByteArray::fromHex("313233343536373839374B") << 10;
    // Odd lengths: txFrameLast is L/2 + 1 rounded half to even, the last
    // character pairs with itself, and the CRC bytes overwrite what lies under
    // them. The CRC covers the digits as bits, the last nibble padded with 0.
    QTest::newRow("A: 1.5 rounds to 2") << "A" << QByteArray::fromHex("AABF38") << 2;
    QTest::newRow("ABC: 2.5 rounds to 2") << "ABC" << QByteArray::fromHex("AB7ED0") << 2;
    QTest::newRow("ABCDE: 3.5 rounds to 4") << "ABCDE" << QByteArray::fromHex("ABCDEE5538") << 4;
}

void TestRequestFrame::frameWritten() {
    QFETCH(QString, request);
    QFETCH(QByteArray, frame);
    openPort();

    // A late answer to an earlier request waits unread.
    QVERIFY(m_pty->write(QByteArray::fromHex("090306")));
    QTRY_COMPARE(m_port->inBufferCount(), 3);
    Data::rxCount = 3;

    tklink::sendRequest(*m_port, request);
    QTEST(int(Data::txFrameLast), "txFrameLast");
    QCOMPARE(txFrameBytes(), frame);
    QCOMPARE(Data::rxCount, int16_t(0));
    QCOMPARE(m_port->inBufferCount(), 0);
    QCOMPARE(m_pty->read(int(frame.size())), frame);
}

void TestRequestFrame::failedRequestWritesNothing_data() {
    QTest::addColumn<QString>("request");

    QTest::newRow("0a: lower-case letter fails in the CRC") << "0a";
    QTest::newRow("a0: lower-case high digit fails the pair") << "a0";
    QTest::newRow("0A0L: L fails in the CRC") << "0A0L";
}

void TestRequestFrame::failedRequestWritesNothing() {
    QFETCH(QString, request);
    openPort();
    QVERIFY(m_pty->write(QByteArray::fromHex("090306")));
    QTRY_COMPARE(m_port->inBufferCount(), 3);
    Data::rxCount = 3;

    tklink::sendRequest(*m_port, request);
    QCOMPARE(Data::rxCount, int16_t(3));
    QCOMPARE(m_port->inBufferCount(), 3);

    // The next good request is the first thing on the line.
    tklink::sendRequest(*m_port, QStringLiteral("0A"));
    QCOMPARE(m_pty->read(3), QByteArray::fromHex("0A3F47"));
    QCOMPARE(m_pty->readAvailable(), QByteArray());
}

void TestRequestFrame::closedPortWritesNothing() {
    openPort();
    QVERIFY(m_port->setPortOpen(false));
    tklink::sendRequest(*m_port, QStringLiteral("090300010003"));
    QCOMPARE(txFrameBytes(), QByteArray::fromHex("0903000100035543"));

    QVERIFY(m_port->setPortOpen(true));
    tklink::sendRequest(*m_port, QStringLiteral("A0"));
    QCOMPARE(m_pty->read(3), QByteArray::fromHex("A0BF38"));
    QCOMPARE(m_pty->readAvailable(), QByteArray());
}

void TestRequestFrame::shorterSecondRequestLeavesNothingBehind() {
    openPort();
    tklink::sendRequest(*m_port, QStringLiteral("090300010003"));
    // Read before the next request: its discard of unsent output would
    // otherwise take the first frame off the line.
    QCOMPARE(m_pty->read(8), QByteArray::fromHex("0903000100035543"));
    tklink::sendRequest(*m_port, QStringLiteral("0A"));
    QCOMPARE(txFrameBytes(), QByteArray::fromHex("0A3F47"));
    QCOMPARE(m_pty->read(3), QByteArray::fromHex("0A3F47"));
    QCOMPARE(m_pty->readAvailable(), QByteArray());
}

// Rerun with: tst_requestframe benchmarkPollRequestCrc -iterations 20000
void TestRequestFrame::benchmarkPollRequestCrc() {
    std::optional<uint16_t> crc;
    QBENCHMARK {
        crc = crcOfText(QStringLiteral("090300010003"), 6);
    }
    QCOMPARE(crc, std::optional<uint16_t>(0x4355));
}

QTEST_GUILESS_MAIN(TestRequestFrame)
#include "tst_requestframe.moc"
