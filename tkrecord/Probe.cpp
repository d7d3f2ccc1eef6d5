#include "Probe.h"

#include <QEventLoop>

#include "AppInfo.h"
#include "ControllerSearch.h"
#include "Data.h"
#include "PortsSection.h"
#include "SearchDevices.h"
#include "SearchText.h"
#include "Settings.h"

namespace tkrecord {

int runProbe(const std::function<void(const QString&)>& say, int lastAddress) {
    const settings::SettingsRead read = settings::loadSettings(QLatin1String(appTitle));
    if (read.status == settings::ConfFileRead::Status::Unreadable) {
        say(QStringLiteral("cannot read the settings: ") + read.reason);
        return 1;
    }
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
