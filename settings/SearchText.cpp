#include "SearchText.h"

#include "AnswerFrame.h"
#include "AppInfo.h"
#include "ControllersSection.h"
#include "MbapFrame.h"

#include <algorithm>

namespace settings {

namespace {

using tklink::TryResult;

QString resultText(const tklink::SearchTry& attempt) {
    switch (attempt.result) {
    case TryResult::Answer:
        return QStringLiteral("the controller answered");
    case TryResult::Exception:
        return QStringLiteral("exception %1: a device answers, not the controller")
            .arg(attempt.detail);
    case TryResult::NoAnswer:
        return QStringLiteral("no answer");
    case TryResult::BadAnswer:
        return QStringLiteral("bad answer");
    case TryResult::Busy:
        return attempt.holderPid > 0 ? QStringLiteral("skipped, another program holds it (PID %1)")
                                           .arg(attempt.holderPid)
                                     : QStringLiteral("skipped, another program holds it");
    case TryResult::OpenFailed:
        return QStringLiteral("does not open: ") + attempt.detail;
    case TryResult::Lost:
        return QStringLiteral("lost: ") + attempt.detail;
    }
    return {};
}

bool triedAtSpeed(TryResult result) {
    return result == TryResult::NoAnswer || result == TryResult::BadAnswer;
}

} // namespace

QString searchDeviceText(const tklink::SearchDevice& device) {
    return device.named ? QStringLiteral("%1 (port %2)").arg(device.device).arg(device.portNumber)
                        : device.device + QStringLiteral(" (no port number)");
}

QString searchTryLine(const tklink::SearchTry& attempt) {
    const QString where = searchDeviceText(attempt.device);
    // A device that did not open was not tried at any speed.
    if (attempt.result == TryResult::Busy || attempt.result == TryResult::OpenFailed)
        return where + QStringLiteral(": ") + resultText(attempt);
    const QString address = attempt.address == tklink::controllerAddress
                                ? QString()
                                : QStringLiteral(", address %1").arg(attempt.address);
    return QStringLiteral("%1 at %2 bit/s%3: %4")
        .arg(where)
        .arg(attempt.speed)
        .arg(address, resultText(attempt));
}

QString sweepLine(const tklink::SearchDevice& device, qint32 speed, int addresses) {
    return QStringLiteral("%1 at %2 bit/s: asking %3 other addresses")
        .arg(searchDeviceText(device))
        .arg(speed)
        .arg(addresses);
}

QString answeringText(const QList<int>& addresses, int listUpTo, const QString& where) {
    QStringList numbers;
    for (const int address : addresses)
        numbers << QString::number(address);
    return QStringLiteral("addresses answering from 1 to %1%2: %3")
        .arg(listUpTo)
        .arg(where.isEmpty() ? QString() : QLatin1Char(' ') + where,
             numbers.join(QStringLiteral(", ")));
}

QStringList controllersLines(const QList<int>& addresses) {
    QStringList lines{QStringLiteral("[Controllers]")};
    for (const int address : addresses)
        lines << QStringLiteral("controller-%1=%1").arg(address);
    return lines;
}

QList<uint8_t> configuredAddresses() {
    QList<uint8_t> addresses;
    const ControllersRead& read = configuredControllers();
    if (read.bus) {
        for (const tklink::ControllerId& id : read.controllers)
            addresses << id.address;
    }
    return addresses;
}

QStringList searchFailureLines(const QList<tklink::SearchTry>& tries) {
    struct PerDevice {
        tklink::SearchDevice device;
        QList<qint32> noAnswer;
        QList<qint32> badAnswer;
        QString end; // why it left the search, if it did
    };
    QList<PerDevice> devices;
    for (const tklink::SearchTry& attempt : tries) {
        auto it = std::find_if(devices.begin(), devices.end(), [&](const PerDevice& d) {
            return d.device.device == attempt.device.device;
        });
        if (it == devices.end()) {
            devices << PerDevice{attempt.device, {}, {}, {}};
            it = devices.end() - 1;
        }
        // Each speed once, however many addresses were asked at it.
        if (attempt.result == TryResult::NoAnswer && !it->noAnswer.contains(attempt.speed))
            it->noAnswer << attempt.speed;
        else if (attempt.result == TryResult::BadAnswer && !it->badAnswer.contains(attempt.speed))
            it->badAnswer << attempt.speed;
        else if (!triedAtSpeed(attempt.result))
            it->end = resultText(attempt);
    }
    const auto speedList = [](const QList<qint32>& speeds) {
        QStringList texts;
        for (const qint32 speed : speeds)
            texts << QString::number(speed);
        return texts.join(QStringLiteral(", ")) + QStringLiteral(" bit/s");
    };
    QStringList lines;
    for (const PerDevice& d : devices) {
        QStringList parts;
        if (!d.noAnswer.isEmpty())
            parts << QStringLiteral("no answer at ") + speedList(d.noAnswer);
        if (!d.badAnswer.isEmpty())
            parts << QStringLiteral("bad answer at ") + speedList(d.badAnswer);
        if (!d.end.isEmpty())
            parts << d.end;
        lines << searchDeviceText(d.device) + QStringLiteral(": ") +
                     parts.join(QStringLiteral("; "));
    }
    return lines;
}

QStringList searchConfLines(const tklink::SearchDevice& device, qint32 speed) {
    QStringList lines;
    if (!device.named)
        lines << QStringLiteral("[Ports]")
              << QStringLiteral("%1=%2").arg(device.portNumber).arg(device.device);
    lines << QLatin1Char('[') + QLatin1String(appTitle) + QLatin1Char(']')
          << QStringLiteral("ComPortNum=%1").arg(device.portNumber)
          << QStringLiteral("ComPortSpeed=%1").arg(speed);
    return lines;
}

QList<uint8_t> gatewaySearchAddresses(int listUpTo) {
    QList<uint8_t> addresses;
    for (int address = 1; address <= listUpTo; ++address)
        addresses << uint8_t(address);
    for (const uint8_t address : configuredAddresses())
        if (!addresses.contains(address))
            addresses << address;
    return addresses;
}

int gatewaySearchTimeoutMs() {
    const ControllersRead& bus = configuredControllers();
    return bus.bus ? bus.timing.answerTimeoutMs : gatewayAnswerTimeoutMs;
}

QString gatewayTryLine(const tklink::GatewayAddress& gateway, const tklink::GatewayTry& attempt) {
    const QString where =
        QStringLiteral("%1, address %2: ").arg(gateway.text()).arg(attempt.address);
    if (attempt.result == TryResult::Exception &&
        !tklink::gatewayExceptionText(attempt.code).isEmpty())
        return where + tklink::exceptionWords(attempt.code, true);
    tklink::SearchTry serial;
    serial.result = attempt.result;
    serial.detail = QString::number(attempt.code);
    return where + resultText(serial);
}

QString gatewayMissingText(const QList<tklink::GatewayTry>& tries, int answerTimeoutMs) {
    // Each reason once, in the order first met.
    QStringList reasons;
    QList<int> counts;
    for (const tklink::GatewayTry& attempt : tries) {
        QString reason;
        if (attempt.result == TryResult::NoAnswer)
            reason = QStringLiteral("no answer within %1 ms").arg(answerTimeoutMs);
        else if (attempt.result == TryResult::BadAnswer)
            reason = QStringLiteral("bad answer");
        else if (attempt.result == TryResult::Exception)
            reason = tklink::exceptionWords(attempt.code, true);
        else
            continue;
        const qsizetype at = reasons.indexOf(reason);
        if (at < 0) {
            reasons << reason;
            counts << 1;
        } else {
            ++counts[at];
        }
    }
    if (reasons.isEmpty())
        return {};
    QStringList parts;
    int missing = 0;
    for (qsizetype i = 0; i < reasons.size(); ++i) {
        parts << QStringLiteral("%1 %2").arg(counts[i]).arg(reasons[i]);
        missing += counts[i];
    }
    return QStringLiteral("no controller at %1 of %2 addresses: %3")
        .arg(missing)
        .arg(tries.size())
        .arg(parts.join(QStringLiteral(", ")));
}

} // namespace settings
