#include "TksimLog.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include "WaitUntil.h"

SimLine parseSimLine(const QString& text) {
    // The tail words come in this order (tools/tksim/Faults.cpp).
    static const QRegularExpression tailRe(
        QStringLiteral("^(.*?)(?: noise=(\\d+))?(?: extra=(\\d+))?( slow)?$"));
    static const QString triple = QStringLiteral("answer (-?\\d+) (-?\\d+) (-?\\d+)$");
    static const QRegularExpression answerRe(QLatin1Char('^') + triple);
    static const QRegularExpression crcRe(QStringLiteral("^fault crc ") + triple);
    static const QRegularExpression addressRe(QStringLiteral("^fault address \\d+ ") + triple);
    static const QRegularExpression truncatedRe(QStringLiteral("^fault truncated (\\d+)/11 ") +
                                                triple);
    static const QRegularExpression exceptionRe(
        QStringLiteral("^fault exception (\\d+) read 1\\.\\.3$"));

    SimLine line;
    line.text = text;
    const QRegularExpressionMatch tail = tailRe.match(text);
    const QString head = tail.captured(1);
    line.noise = tail.captured(2).toInt();
    line.extra = tail.captured(3).toInt();
    line.slow = tail.hasCaptured(4);

    const auto takeValues = [&line](const QRegularExpressionMatch& m, int first) {
        for (int i = 0; i < 3; ++i)
            line.values[std::size_t(i)] = m.captured(first + i).toInt();
    };
    QRegularExpressionMatch m;
    if ((m = answerRe.match(head)).hasMatch()) {
        line.kind = SimLine::Kind::Answer;
        takeValues(m, 1);
    } else if ((m = crcRe.match(head)).hasMatch()) {
        line.kind = SimLine::Kind::BadCrc;
        takeValues(m, 1);
    } else if ((m = addressRe.match(head)).hasMatch()) {
        line.kind = SimLine::Kind::BadAddress;
        takeValues(m, 1);
    } else if ((m = truncatedRe.match(head)).hasMatch()) {
        line.kind = SimLine::Kind::Truncated;
        line.kept = m.captured(1).toInt();
        takeValues(m, 2);
    } else if ((m = exceptionRe.match(head)).hasMatch()) {
        line.kind = SimLine::Kind::Exception;
        line.exceptionCode = m.captured(1).toInt();
    } else if (head == QLatin1String("fault drop read 1..3")) {
        line.kind = SimLine::Kind::Drop;
    } else if (head == QLatin1String("fault unplug read 1..3")) {
        line.kind = SimLine::Kind::Unplug;
    }
    return line;
}

bool isLineEvent(const QString& text) {
    return text == QLatin1String("fault unplug timed") ||
           text == QLatin1String("fault unplug signal") ||
           text.startsWith(QLatin1String("replug ")) || text.startsWith(QLatin1String("cut "));
}

QString expectedStatuses(const SimLine& line) {
    const QString lead = line.noise > 0 ? QStringLiteral("B") : QString();
    switch (line.kind) {
    case SimLine::Kind::Answer:
        return QLatin1Char('S') + lead + QLatin1Char('D');
    case SimLine::Kind::Exception:
        return QLatin1Char('S') + lead + QLatin1Char('E');
    case SimLine::Kind::BadCrc:
    case SimLine::Kind::BadAddress:
    // A cut frame waits for more and is told at the time-out, unless random
    // bytes around it gave it away before.
    case SimLine::Kind::Truncated:
        return QStringLiteral("SB");
    case SimLine::Kind::Drop:
        return QStringLiteral("SA");
    case SimLine::Kind::Unplug:
        return QStringLiteral("S");
    case SimLine::Kind::Unknown:
        break;
    }
    return QStringLiteral("(unknown line)");
}

QString tripleText(const Triple& t) {
    return QStringLiteral("%1 %2 %3").arg(t[0]).arg(t[1]).arg(t[2]);
}

QString readoutText(int raw) {
    return QLocale::c().toString(float(raw) / 10.0f, 'g', 7);
}

QString waitForBytesTaken(const SimLine& line, const int& bytesTaken, int timeoutMs) {
    const int expected = line.bytesOnLine();
    // Too few bytes by the deadline and too many are both told below.
    if (waitUntil([&] { return bytesTaken >= expected; }, timeoutMs) && bytesTaken == expected)
        return {};
    return QStringLiteral("%1 of %2 bytes taken after \"%3\"")
        .arg(bytesTaken)
        .arg(expected)
        .arg(line.text);
}
