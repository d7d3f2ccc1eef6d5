#include "PollWatch.h"

#include <QRegularExpression>
#include <QTest>

#include "AnswerCollector.h"
#include "Bus.h"
#include "Controller.h"
#include "Data.h"
#include "LinkTexts.h"
#include "SerialLine.h"
#include "SerialPortControl.h"

using tklink::Controller;
using tklink::SerialPortControl;

namespace {

Triple dataValues() {
    return {int(Data::measureRaw), int(Data::setpointRaw), int(Data::powerRaw)};
}

// What the window does with the controller it shows.
void copyValues(const Controller& controller) {
    Data::measureRaw = controller.values().measureRaw;
    Data::setpointRaw = controller.values().setpointRaw;
    Data::powerRaw = controller.values().powerRaw;
}

QStringList readoutList(bool current) {
    const auto [measured, setpoint] = readoutTexts(current);
    return {measured, setpoint};
}

} // namespace

PollWatch::PollWatch(Controller& controller, SerialPortControl& port) {
    connect(&controller, &Controller::status, this,
            [this](const tklink::LinkStatus& status) { statuses << linkStatusText(status); });
    connect(&controller, &Controller::answered, this, [this, &controller] {
        copyValues(controller);
        readouts << readoutList(true);
        decoded << dataValues();
        answerReadouts << readouts.last();
    });
    connect(&controller, &Controller::valuesCurrentChanged, this,
            [this, &controller](bool current) {
                copyValues(controller);
                if (!current)
                    readouts << readoutList(false);
            });
    // Counted before the line owner takes the bytes.
    auto* line = port.findChild<tklink::SerialLine*>();
    disconnect(&port, &SerialPortControl::comm, line, &tklink::SerialLine::portReceived);
    connect(&port, &SerialPortControl::comm, this, [this, &port] {
        bytesTaken += port.inBufferCount();
        ++commEvents;
    });
    connect(&port, &SerialPortControl::comm, line, &tklink::SerialLine::portReceived);
}

void wordCollector(tklink::AnswerCollector& collector, const QTime& time, CollectorWords& words) {
    using Kind = tklink::LinkStatus::Kind;
    QObject::connect(&collector, &tklink::AnswerCollector::answerTaken, &collector, [&words, time] {
        words.readouts << readoutList(true);
        words.statuses << linkStatusText({Kind::DataReceived, time, 0});
    });
    QObject::connect(&collector, &tklink::AnswerCollector::exceptionTaken, &collector,
                     [&words, time](int code) {
                         words.statuses << linkStatusText({Kind::Exception, time, code});
                     });
    QObject::connect(&collector, &tklink::AnswerCollector::badBytesDropped, &collector,
                     [&words, time] {
                         words.statuses << linkStatusText({Kind::BadAnswer, time, 0});
                     });
}

void PollWatch::clear() {
    statuses.clear();
    readouts.clear();
    decoded.clear();
    answerReadouts.clear();
    bytesTaken = 0;
    commEvents = 0;
}

void pollOnce(PollWatch& watch, tklink::Bus& bus, const std::function<void()>& tick,
              const std::function<std::optional<SimLine>()>& nextRequestLine, PollOutcome& outcome,
              int waitMs) {
    watch.clear();
    tick();
    outcome.requestSent = Data::portConnected;
    if (outcome.requestSent) {
        const std::optional<SimLine> line = nextRequestLine();
        QVERIFY2(line, "no log line for the request");
        outcome.line = *line;
        QVERIFY2(line->kind != SimLine::Kind::Unknown, qPrintable(line->text));
        if (line->kind == SimLine::Kind::Unplug) {
            QVERIFY(QTest::qWaitFor([] { return !Data::portConnected; }, waitMs));
        } else {
            // Everything the simulator put on the line is taken before the
            // next tick, as it is at the program's real pace.
            const QString missing = waitForBytesTaken(*line, watch.bytesTaken, waitMs);
            QVERIFY2(missing.isEmpty(), qPrintable(missing));
        }
    }
    bus.answerTimedOut();
    outcome.statuses = watch.statuses;
    outcome.decoded = watch.decoded;
    outcome.readouts = watch.answerReadouts;
    outcome.commEvents = watch.commEvents;
}

QString statusLetters(const QStringList& statuses, const QString& time, int exceptionCode) {
    const QString code =
        exceptionCode < 0 ? QStringLiteral("\\d+") : QString::number(exceptionCode);
    const QRegularExpression exception(QStringLiteral("^Controler exception ") + code +
                                       QLatin1Char(' ') + time + QLatin1Char('$'));
    QString letters;
    for (const QString& s : statuses) {
        if (s == QStringLiteral("Send request to controler ") + time)
            letters += QLatin1Char('S');
        else if (s == QStringLiteral("Data received from controler ") + time)
            letters += QLatin1Char('D');
        else if (s == QStringLiteral("Bad answer from controler ") + time)
            letters += QLatin1Char('B');
        else if (exception.match(s).hasMatch())
            letters += QLatin1Char('E');
        else if (s == QLatin1String("Not connected"))
            letters += QLatin1Char('N');
        else if (s == QStringLiteral("No answer from controler ") + time)
            letters += QLatin1Char('A');
        else
            letters += QLatin1Char('?');
    }
    return letters;
}
