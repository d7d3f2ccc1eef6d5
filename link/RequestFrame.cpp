#include "RequestFrame.h"

#include "LineDevice.h"

#include "Data.h"
#include "LinkLog.h"
#include "SerialPortControl.h"

#include <QByteArray>

#include <array>
#include <cstdlib>

namespace tklink {

namespace {

// Entry i is the digit of value i.
const std::array<QString, 16> hexDigitTable = {
    QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
    QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"),
    QStringLiteral("8"), QStringLiteral("9"), QStringLiteral("A"), QStringLiteral("B"),
    QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E"), QStringLiteral("F"),
};

// Entry v is the four binary digits of v, most significant first. The CRC
// reads "G" to "K" as 16 to 20, so those five entries exist and are empty:
// such characters add no digits.
const std::array<QString, 21> nibbleTable = {
    QStringLiteral("0000"),
    QStringLiteral("0001"),
    QStringLiteral("0010"),
    QStringLiteral("0011"),
    QStringLiteral("0100"),
    QStringLiteral("0101"),
    QStringLiteral("0110"),
    QStringLiteral("0111"),
    QStringLiteral("1000"),
    QStringLiteral("1001"),
    QStringLiteral("1010"),
    QStringLiteral("1011"),
    QStringLiteral("1100"),
    QStringLiteral("1101"),
    QStringLiteral("1110"),
    QStringLiteral("1111"),
    QString(),
    QString(),
    QString(),
    QString(),
    QString(),
};

// Entry q (1 to 8) is the power of two that weighs the q-th digit of an
// eight-digit binary text; entry 0 is not used.
const std::array<QString, 9> exponentTable = {
    QString(),           QStringLiteral("7"), QStringLiteral("6"),
    QStringLiteral("5"), QStringLiteral("4"), QStringLiteral("3"),
    QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("0"),
};

// 0xA001, the Modbus polynomial 0x8005 bit-reversed, bit 15 first: the
// register is kept reflected, so it shifts right.
const QString polynomialText = QStringLiteral("1010000000000001");

const QString registerStart = QStringLiteral("1111111111111111");

int hexDigitValue(const QChar digit) {
    for (int i = 0; i < int(hexDigitTable.size()); ++i) {
        if (hexDigitTable[i] == digit)
            return i;
    }
    return -1;
}

// A binary digit of the bit text or the register.
int bitValue(const QChar digit) {
    return digit == QLatin1Char('1') ? 1 : 0;
}

// Exclusive-or of two binary digits, as a digit.
QString xorDigit(int a, int b) {
    return QString::number(std::abs(a - b));
}

// The value of an eight-digit binary text, most significant digit first.
int weigh(const QString& eightDigits) {
    int sum = 0;
    for (int q = 1; q <= 8; ++q)
        sum += bitValue(eightDigits[q - 1]) * (1 << exponentTable[q].toInt());
    return sum;
}

} // namespace

QString pollRequestText() {
    // Slave address, read holding registers, first register, register count.
    return QStringLiteral("09") + QStringLiteral("03") + QStringLiteral("0001") +
           QStringLiteral("0003");
}

std::optional<uint8_t> hexPairToByte(const QString& pair) {
    if (pair.isEmpty())
        return std::nullopt;
    const int high = hexDigitValue(pair.front());
    if (high < 0)
        return std::nullopt;
    const int low = hexDigitValue(pair.back());
    return static_cast<uint8_t>(16 * high + (low < 0 ? 0 : low));
}

bool modbusCrc(const QString& request) {
    const int last = Data::txFrameLast;
    if (last < 1 || Data::txFrame.size() != std::size_t(last) + 1)
        return false;

    QString bitText;
    bitText.reserve(request.size() * 4);
    for (const QChar character : request) {
        const int code = character.unicode();
        int value = 0;
        if (code > 64)
            value = code - 55; // "A" (65) is 10
        else if (character >= QLatin1Char('0') && character <= QLatin1Char('9'))
            value = code - '0';
        if (value > 20)
            return false;
        bitText += nibbleTable[value];
    }

    QString crcRegister = registerStart; // character 1 is bit 15
    for (qsizetype start = 0; start < bitText.size(); start += 8) {
        const QString slice = bitText.mid(start, 8);
        const QString lowByte = crcRegister.right(8);
        QString mixed;
        for (int m = 0; m < 8; ++m) {
            const int a = m < slice.size() ? bitValue(slice[m]) : 0;
            mixed += xorDigit(a, bitValue(lowByte[m]));
        }
        crcRegister = crcRegister.left(8) + mixed;

        for (int shift = 0; shift < 8; ++shift) {
            const QChar bit0 = crcRegister.back();
            crcRegister = QStringLiteral("0") + crcRegister.left(15);
            if (bit0 == QLatin1Char('1')) {
                QString applied;
                for (int t = 0; t < 16; ++t)
                    applied += xorDigit(bitValue(crcRegister[t]), bitValue(polynomialText[t]));
                crcRegister = applied;
            }
        }
    }

    // Modbus sends the CRC low byte first, unlike the registers.
    Data::txFrame[last - 1] = static_cast<uint8_t>(weigh(crcRegister.right(8)));
    Data::txFrame[last] = static_cast<uint8_t>(weigh(crcRegister.left(8)));
    return true;
}

namespace {

// Steps 1 to 4 of a send: Data::txFrame and Data::txFrameLast for the
// request, CRC included. False on a failure, with nothing discarded yet.
bool buildTxFrame(const QString& request) {
    // L/2 + 1 rounded to the nearest, ties to even: exact for an even length;
    // for an odd one the tie lies between floor(L/2) + 1 and the next number,
    // and the even one of the two wins.
    const qsizetype length = request.size();
    qsizetype last = length / 2 + 1;
    if (length % 2 != 0 && last % 2 != 0)
        ++last;
    if (last > INT16_MAX)
        return false;
    Data::txFrameLast = static_cast<int16_t>(last);
    Data::txFrame.assign(std::size_t(last) + 1, 0);

    // At most ceil(L/2) data bytes, which always fit below txFrameLast + 1.
    int writeIndex = -1;
    for (qsizetype p = 0; p < length; p += 2) {
        const std::optional<uint8_t> byte = hexPairToByte(request.mid(p, 2));
        if (!byte)
            return false;
        ++writeIndex;
        Data::txFrame[std::size_t(writeIndex)] = *byte;
    }
    return modbusCrc(request);
}

QByteArray txFrameBytes() {
    return QByteArray(reinterpret_cast<const char*>(Data::txFrame.data()),
                      qsizetype(Data::txFrame.size()));
}

} // namespace

void sendRequest(SerialPortControl& port, const QString& request) {
    if (!buildTxFrame(request))
        return;
    // A late or partial answer to an earlier request must not be taken for
    // the answer to this one.
    if (!port.clearInBuffer() || !port.clearOutBuffer())
        return;
    Data::rxCount = 0;
    const QByteArray frame = txFrameBytes();
    qCDebug(lcLinkFrames) << "tx" << frame.toHex(' ');
    port.output(frame);
}

void sendRequest(LineDevice& line, const QString& request) {
    if (!buildTxFrame(request) || !line.isOpen())
        return;
    line.discardPending();
    Data::rxCount = 0;
    line.write(txFrameBytes());
}

} // namespace tklink
