#pragma once

// The simulator's log as the link tests read it: one line per poll request
// taken apart into what tksim put on the line (docs/simulator.md, "The log"),
// and the status texts the program must show for it.

#include <QString>

#include <array>

using Triple = std::array<int, 3>; // measureRaw, setpointRaw, powerRaw

// One log line of the simulator about a poll request, taken apart.
struct SimLine {
    enum class Kind { Answer, BadCrc, BadAddress, Truncated, Exception, Drop, Unplug, Unknown };

    QString text;
    Kind kind = Kind::Unknown;
    Triple values{}; // the registers the answer held (Answer, BadCrc, BadAddress, Truncated)
    int kept = 0;    // Truncated: bytes of the answer sent
    int exceptionCode = 0;
    int noise = 0; // random bytes before the frame
    int extra = 0; // random bytes after it
    bool slow = false;

    bool isAnswer() const { return kind == Kind::Answer; }
    bool holdsValues() const {
        return kind == Kind::Answer || kind == Kind::BadCrc || kind == Kind::BadAddress ||
               kind == Kind::Truncated;
    }
    // How many bytes the simulator put on the line for this request.
    int bytesOnLine() const {
        int frame = 0;
        switch (kind) {
        case Kind::Answer:
        case Kind::BadCrc:
        case Kind::BadAddress:
            frame = 11;
            break;
        case Kind::Truncated:
            frame = kept;
            break;
        case Kind::Exception:
            frame = 5;
            break;
        case Kind::Drop:
        case Kind::Unplug:
        case Kind::Unknown:
            break;
        }
        return noise + frame + extra;
    }
};

SimLine parseSimLine(const QString& text);

// Log lines that are not about a request: an unplug by time or signal, the
// line coming back, an answer cut by an unplug.
bool isLineEvent(const QString& text);

// The status texts a poll must show for what the simulator sent, up to and
// including its answer time-out, as a regular expression over one letter per
// status: S(end request), D(ata received), B(ad answer), E(xception),
// A (no answer). Random bytes ahead of a frame are one bad answer however
// many there are; random bytes behind the poll's answer are dropped
// unreported.
QString expectedStatuses(const SimLine& line);

// "M S P", as the simulator logs an answer's registers.
QString tripleText(const Triple& t);

// The read-out text of a raw value, formatted here independently of the
// program's number formatting (C locale, seven significant digits).
QString readoutText(int raw);

// Waits, running the event loop, until the program has taken every byte the
// simulator put on the line for this request; bytesTaken is the test's count
// of the bytes the program read. Returns what went wrong, or nothing.
QString waitForBytesTaken(const SimLine& line, const int& bytesTaken, int timeoutMs);
