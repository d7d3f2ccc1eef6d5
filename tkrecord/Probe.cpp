#include "Probe.h"

#include <QEventLoop>

#include <algorithm>

#include "AppInfo.h"
#include "ControllerSearch.h"
#include "ControllersSection.h"
#include "Data.h"
#include "GatewaySearch.h"
#include "MbapFrame.h"
#include "PortsSection.h"
#include "SearchDevices.h"
#include "SearchText.h"
#include "Settings.h"

namespace tkrecord {

namespace {

// Behind a gateway the line's speed is the gateway's business: only which
// addresses answer there is asked, 1 to lastAddress and the configured ones.
int probeGateway(const std::function<void(const QString&)>& say,
                 const tklink::GatewayAddress& gateway, int lastAddress) {
    const QList<uint8_t> addresses = settings::gatewaySearchAddresses(lastAddress);
    const int timeoutMs = settings::gatewaySearchTimeoutMs();
    say(QStringLiteral("port %1 is the gateway %2: no serial port or speed to search; "
                       "asking %3 addresses there, %4 ms each at most")
            .arg(Data::comPortNum)
            .arg(gateway.text())
            .arg(addresses.size())
            .arg(timeoutMs));
    tklink::GatewaySearch search(gateway, addresses, timeoutMs);
    QEventLoop loop;
    tklink::GatewaySearchOutcome outcome;
    QObject::connect(&search, &tklink::GatewaySearch::connected, &loop,
                     [&] { say(QStringLiteral("gateway %1 connected").arg(gateway.text())); });
    // What answered; the silent addresses are counted at the end.
    QObject::connect(&search, &tklink::GatewaySearch::tried, &loop,
                     [&](const tklink::GatewayTry& attempt) {
                         if (attempt.result != tklink::TryResult::NoAnswer &&
                             tklink::gatewayExceptionText(attempt.code).isEmpty())
                             say(settings::gatewayTryLine(gateway, attempt));
                     });
    QObject::connect(&search, &tklink::GatewaySearch::finished, &loop,
                     [&](const tklink::GatewaySearchOutcome& result) {
                         outcome = result;
                         loop.quit();
                     });
    search.start();
    loop.exec();
    if (!outcome.connected) {
        say(QStringLiteral("cannot connect to the gateway %1: %2")
                .arg(gateway.text(), outcome.failure));
        return 1;
    }
    const QString seconds = QString::number(double(outcome.elapsedMs) / 1000.0, 'f', 1);
    say(outcome.failure.isEmpty()
            ? QStringLiteral("gateway %1: %2 addresses asked in %3 s")
                  .arg(gateway.text())
                  .arg(outcome.tries.size())
                  .arg(seconds)
            : QStringLiteral("gateway %1: %2, after %3 of %4 addresses in %5 s")
                  .arg(gateway.text(), outcome.failure)
                  .arg(outcome.tries.size())
                  .arg(addresses.size())
                  .arg(seconds));
    const QString missing = settings::gatewayMissingText(outcome.tries, timeoutMs);
    if (!missing.isEmpty())
        say(missing);
    if (outcome.answering.isEmpty()) {
        say(QStringLiteral("no controller answers behind the gateway ") + gateway.text());
        return 1;
    }
    QList<int> answering = outcome.answering;
    std::sort(answering.begin(), answering.end());
    say(settings::answeringText(answering, lastAddress,
                                QStringLiteral("behind the gateway ") + gateway.text()) +
        QStringLiteral("; conf.ini lines:"));
    for (const QString& line : settings::controllersLines(answering))
        say(line);
    return outcome.failure.isEmpty() ? 0 : 1;
}

} // namespace

int runProbe(const std::function<void(const QString&)>& say, int lastAddress) {
    const settings::SettingsRead read = settings::loadSettings(QLatin1String(appTitle));
    if (read.status == settings::ConfFileRead::Status::Unreadable) {
        say(QStringLiteral("cannot read the settings: ") + read.reason);
        return 1;
    }
    if (!read.portsRefused.isEmpty()) {
        say(read.portsRefused);
        return 1;
    }
    if (const auto gateway = settings::configuredGateway(Data::comPortNum))
        return probeGateway(say, *gateway, lastAddress);
    const QList<tklink::SearchDevice> devices = settings::searchDevices(
        Data::comPortNum, [](int n) { return settings::configuredDevice(n); });
    const tklink::SearchAddresses addresses =
        tklink::searchAddresses(settings::configuredAddresses(), lastAddress);
    tklink::ControllerSearch search(devices, tklink::searchSpeeds(Data::comPortSpeed), addresses);
    QEventLoop loop;
    tklink::SearchOutcome outcome;
    bool others = false;
    QObject::connect(&search, &tklink::ControllerSearch::tried, &loop,
                     [&say, &others](const tklink::SearchTry& attempt) {
                         // Of the many tries at the other addresses, what came.
                         if (!others || attempt.result != tklink::TryResult::NoAnswer)
                             say(settings::searchTryLine(attempt));
                     });
    QObject::connect(&search, &tklink::ControllerSearch::askingOthers, &loop,
                     [&say, &others, &addresses](int tries) {
                         others = true;
                         say(QStringLiteral("no answer at address %1: asking %2 other addresses, "
                                            "at most %3 tries")
                                 .arg(addresses.first)
                                 .arg(addresses.others.size())
                                 .arg(tries));
                     });
    // The other addresses on each device at each speed, as they begin, so
    // that a long search is never silent.
    QObject::connect(&search, &tklink::ControllerSearch::sweeping, &loop,
                     [&say](const tklink::SearchDevice& device, qint32 speed, int count) {
                         say(settings::sweepLine(device, speed, count));
                     });
    QObject::connect(&search, &tklink::ControllerSearch::finished, &loop,
                     [&](const tklink::SearchOutcome& result) {
                         outcome = result;
                         loop.quit();
                     });
    say(QStringLiteral("searching %1 devices at %2 speeds")
            .arg(devices.size())
            .arg(tklink::searchSpeeds(Data::comPortSpeed).size()));
    search.start();
    loop.exec();
    const QString seconds = QString::number(double(outcome.elapsedMs) / 1000.0, 'f', 1);
    if (!outcome.found) {
        say(QStringLiteral("no controller found: %1 tries in %2 s")
                .arg(outcome.tries.size())
                .arg(seconds));
        // What did answer may be the controller set up otherwise (another
        // address or register map).
        for (const tklink::SearchTry& attempt : outcome.tries) {
            if (attempt.result == tklink::TryResult::Exception)
                say(QStringLiteral("answered with an exception: ") +
                    settings::searchTryLine(attempt));
        }
        return 1;
    }
    say(QStringLiteral("controller found on %1 at %2 bit/s: %3 tries in %4 s; conf.ini lines:")
            .arg(settings::searchDeviceText(outcome.device))
            .arg(outcome.speed)
            .arg(outcome.tries.size())
            .arg(seconds));
    for (const QString& line : settings::searchConfLines(outcome.device, outcome.speed))
        say(line);
    // Where one controller answers, others may share the line.
    say(settings::answeringText(outcome.answering, lastAddress) +
        QStringLiteral("; conf.ini lines:"));
    for (const QString& line : settings::controllersLines(outcome.answering))
        say(line);
    return 0;
}

} // namespace tkrecord
