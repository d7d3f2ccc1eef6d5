#pragma once

// The receive buffer of the poll as a byte-at-a-time collector, for replaying
// and fuzzing the line's receive step (judgeHeld) on Data::rxBuffer: every frame completed at the head of the bytes held is
// checked whole and taken, and what was found is told by a signal. Only the
// first answer (or exception) to a request counts; our own request coming back
// from an echoing adapter is dropped unreported. It has no port, so any byte
// sequence can be fed to it directly.

#include <QObject>

#include <cstdint>

namespace tklink {

class AnswerCollector : public QObject {
    Q_OBJECT

public:
    explicit AnswerCollector(QObject* parent = nullptr);

    // A request went out: the bytes from now on answer it, and bad bytes are
    // reported once.
    void requestSent();
    // One received byte, held behind those in Data::rxBuffer[0 .. Data::rxCount);
    // an answer it completes is decoded into Data::measureRaw, setpointRaw and
    // powerRaw.
    void take(uint8_t byte);
    // The time for this request's answer is up: bytes still held are dropped.
    // True when bytes came that made no valid frame. Stray bytes after this
    // are dropped unreported; a valid answer is still taken.
    bool answerTimedOut();

Q_SIGNALS:
    // The request's valid answer was decoded into Data.
    void answerTaken();
    // The controller refused the request.
    void exceptionTaken(int code);
    // Bytes that cannot start a valid frame were dropped: once per request,
    // and only before its answer.
    void badBytesDropped();

private:
    void takeFramesAtHead();
    static void dropHead(int count);

    // A bad answer was reported since the last request: the rest of the same
    // bad bytes is dropped without repeating the report.
    bool m_badReported = false;
    // This poll's answer (or exception) came, or no request went out yet:
    // bytes now answer nothing and are dropped without a report.
    bool m_answered = true;
};

} // namespace tklink
