#pragma once

// The link tests' view of the poll of one controller: what it tells, kept as
// the window words it, its values copied into Data as the window copies the
// shown controller's, and one poll against the simulator played through to
// its end.

#include <QList>
#include <QObject>
#include <QStringList>

#include "TksimLog.h"

#include <functional>
#include <optional>

#include <QTime>

namespace tklink {
class AnswerCollector;
class Bus;
class Controller;
class SerialPortControl;
} // namespace tklink

// Stops the calling test function when a helper it called failed.
#define TRY(statement)                                                                             \
    do {                                                                                           \
        statement;                                                                                 \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class PollWatch : public QObject {
public:
    // The port's byte counter is put ahead of the line's receive handler,
    // which takes every waiting byte.
    PollWatch(tklink::Controller& controller, tklink::SerialPortControl& port);

    void clear();

    QStringList statuses;
    // Every read-out update, "888.8" when the values went stale.
    QList<QStringList> readouts;
    // Data at each answer taken, and the read-outs it showed.
    QList<Triple> decoded;
    QList<QStringList> answerReadouts;
    // What the port's receive events brought.
    int bytesTaken = 0;
    int commEvents = 0;
};

// The receive side's findings, worded as the poll cycle tells them at a
// given time: the status texts, and the read-outs of each answer.
struct CollectorWords {
    QStringList statuses;
    QList<QStringList> readouts;
};
void wordCollector(tklink::AnswerCollector& collector, const QTime& time, CollectorWords& words);

// What one poll tick led to.
struct PollOutcome {
    bool requestSent = false;    // false: the tick found no port
    SimLine line;                // the simulator's line for the request
    QStringList statuses;        // status texts during the poll, in order
    QList<Triple> decoded;       // Data at each answer taken
    QList<QStringList> readouts; // the read-outs of each answer
    int commEvents = 0;
};

// One poll against tksim: the tick, then a wait until the simulator has
// handled the request (its next request line) and the program has taken every
// byte of the answer or lost the port, then the end of the wait for an answer
// as the time-out would end it before the next tick. Fails the test when a
// wait runs out.
void pollOnce(PollWatch& watch, tklink::Bus& bus, const std::function<void()>& tick,
              const std::function<std::optional<SimLine>()>& nextRequestLine, PollOutcome& outcome,
              int waitMs);

// One letter per status text at the given time: S(end request), D(ata
// received), B(ad answer), E(xception, of exceptionCode unless it is -1),
// A (no answer), N(ot connected), ? for anything else.
QString statusLetters(const QStringList& statuses, const QString& time, int exceptionCode = -1);
