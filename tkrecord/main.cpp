#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>

#include <cstdio>
#include <utility>

#include "AuditTrail.h"
#include "FolderLock.h"
#include "LineOutput.h"
#include "MetricsServer.h"
#include "Options.h"
#include "Probe.h"
#include "QuitSignals.h"
#include "RecordService.h"
#include "RecorderCommand.h"
#include "SealKey.h"
#include "Sharing.h"
#include "StateLog.h"
#include "TrustedKeys.h"
#include "WorkFolder.h"

namespace {

// Lines go out whole and at once: under systemd stdout is a pipe to the
// journal, where a buffered line would show up late or be lost at a crash.
void printLine(FILE* stream, const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

// A broker that does not take "offline" within this does not hold up a stop.
constexpr int mqttStopWaitMs = 2000;

int refuse(const QString& message, int status) {
    printLine(stderr, QStringLiteral("tkrecord: ") + message);
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    // A journal or a pipe reader that goes away must not end a recording.
    tkrecord::ignoreBrokenPipe();
    QCoreApplication application(argc, argv);
    const auto parsed = tkrecord::parseOptions(QCoreApplication::arguments().mid(1));
    if (const QString* error = std::get_if<QString>(&parsed))
        return refuse(*error + QStringLiteral("\nTry \"tkrecord --help\"."), 2);
    const tkrecord::Options& options = *std::get_if<tkrecord::Options>(&parsed);
    if (options.help) {
        std::fputs(qPrintable(tkrecord::usageText()), stdout);
        return 0;
    }
    if (options.version) {
        printLine(stdout, QStringLiteral("tkrecord ") + tkrecord::versionNumber());
        return 0;
    }
    // Named before the folder is entered, so a relative name means what it says.
    const QString keyPath = options.noSeal          ? QString()
                            : options.key.isEmpty() ? sealing::recorderKeyPath()
                                                    : QFileInfo(options.key).absoluteFilePath();
    const bool command = options.mark || options.newRun;
    // A search reads conf.ini at most, and a command reaches the recorder:
    // a read-only folder does for them.
    if (const QString error = tkrecord::enterWorkFolder(options.dir, !options.probe && !command);
        !error.isEmpty())
        return refuse(error, 1);
    if (command) {
        const tkrecord::CommandOutcome sent =
            tkrecord::sendCommand({options.mark, options.run, options.controller});
        if (!sent.error.isEmpty())
            return refuse(sent.error, 1);
        printLine(stdout, sent.written);
        return 0;
    }
    if (options.keyFingerprint) {
        QString problem;
        const auto key = sealing::loadOrCreateKey(keyPath, &problem);
        if (!key)
            return refuse(problem, 1);
        printLine(stdout, sealing::fingerprint(key->publicKey));
        printLine(stdout, QStringLiteral("For tkview to trust it, add this line to %1:")
                              .arg(sealing::TrustedKeys::systemPath()));
        printLine(stdout, tkrecord::trustLine(key->publicKey));
        return 0;
    }

    tkrecord::LineOutput output(fileno(stdout));
    const auto say = [&output](const QString& line) { output.print(line); };
    // A search needs neither the folder nor its lock: it only tries ports.
    if (options.probe)
        return tkrecord::runProbe(say, options.lastProbedAddress);

    recording::FolderLock folderLock;
    if (folderLock.take() != recording::FolderLock::Outcome::Taken)
        return refuse(folderLock.refusal(), 1);
    tkrecord::RecordService service({}, say);
    service.setKeyPath(keyPath);
    sealing::RunIdentity run = options.run;
    if (run.operatorName.isEmpty())
        run.operatorName = sealing::systemUserName();
    service.setRun(run);
    tkrecord::Sharing sharing(say);
    if (const QString error = sharing.readSettings(); !error.isEmpty())
        return refuse(error, 1);
    tkrecord::MetricsServer metrics([&service, &output, &sharing, &metrics] {
        return tkrecord::metricsText(service.metrics(), output.dropped()) +
               (service.onBus() ? tkrecord::busRoundMetricText(service.busRoundMs())
                                : QByteArray()) +
               tkrecord::clientsMetricText(service.clientCount(), metrics.streamCount()) +
               sharing.metricsText();
    });
    if (options.metrics) {
        metrics.servePage([&service](bool withHistory) {
            return service.feed() ? QJsonDocument(service.feed()->state(withHistory))
                                        .toJson(QJsonDocument::Compact)
                                  : QByteArray("{\"controllers\":[]}");
        });
        if (!metrics.listen(QHostAddress(options.metricsHost), options.metricsPort))
            return refuse(QStringLiteral("cannot serve metrics on %1:%2: %3")
                              .arg(options.metricsHost)
                              .arg(options.metricsPort)
                              .arg(metrics.errorString()),
                          1);
    }

    // Before anything is opened, so a signal never finds the port half set up.
    app::QuitSignals quit;
    QObject::connect(&quit, &app::QuitSignals::quitRequested, &application,
                     [&service, &sharing, stopped = false]() mutable {
                         // A second signal while stopping says nothing more.
                         if (std::exchange(stopped, true))
                             return;
                         sharing.stop(mqttStopWaitMs);
                         service.stop();
                         QCoreApplication::quit();
                     });
    if (quit.received() != 0)
        return 0;
    QObject::connect(&service, &tkrecord::RecordService::failed, &application,
                     [](const QString& reason) {
                         printLine(stderr, QStringLiteral("tkrecord: ") + reason);
                         QCoreApplication::exit(1);
                     });
    if (const QString error = service.start(); !error.isEmpty())
        return refuse(error, 1);
    if (const QString error = sharing.start(service.controllers()); !error.isEmpty()) {
        service.stop();
        return refuse(error, 1);
    }
    if (options.metrics) {
        const QString host = options.metricsHost.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + options.metricsHost + QLatin1Char(']')
                                 : options.metricsHost;
        say(tkrecord::stampedLine(
            QDateTime::currentDateTime(),
            QStringLiteral("metrics at http://%1:%2/metrics").arg(host).arg(metrics.port())));
    }
    return QCoreApplication::exec();
}
