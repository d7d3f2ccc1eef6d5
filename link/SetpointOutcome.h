#pragma once

// How a setpoint write ended, and the words for it. A write's own answer can
// be lost, late, garbled or even wrong while the controller took the value,
// so the setpoint the controller answers with afterwards decides; the answer
// only tells why when nothing could be read back. Pure functions.

#include <QString>

#include <cstdint>
#include <optional>

#include "Controller.h"

namespace tklink {

struct SetpointChange {
    ControllerId id;
    int16_t fromTenths = 0;
    int16_t toTenths = 0;
    QString reason;
};

struct SetpointOutcome {
    enum class Kind {
        Accepted,        // answered and read back
        Refused,         // an exception answer, and the setpoint as it was
        NoAnswer,        // no usable answer, and nothing read back
        NotReadBack,     // answered, and nothing read back: why says why
        NotSent,         // never on the line: why says why
        TakenAnswerLost, // read back, though its answer was lost or an exception
        SetOther,        // the controller set shownTenths instead
        NotTaken,        // the setpoint as it was, without an exception
    };
    Kind kind = Kind::NoAnswer;
    // Refused, and TakenAnswerLost after an exception: the controller's code.
    int exceptionCode = 0;
    // SetOther: the setpoint the controller answered with.
    int16_t shownTenths = 0;
    // NotSent, NotReadBack, and NoAnswer when it has more to say: why.
    QString why;
};

// What the write's own exchange gave.
struct WriteReply {
    enum class Kind {
        Confirmed, // the answer the function asks for
        Exception, // exceptionCode says why
        Lost,      // none in time, a wrong echo, garbage
    };
    Kind kind = Kind::Lost;
    int exceptionCode = 0;
};

// The outcome of a write that went out, from its reply and the setpoint of
// the controller's first answer to a poll after it (nothing when none came
// in time; whyNotReadBack then says why, if known).
SetpointOutcome setpointOutcome(const SetpointChange& change, const WriteReply& reply,
                                std::optional<int16_t> readBack,
                                const QString& whyNotReadBack = {});

// "150.0", "-5.5": tenths of a degree with one decimal, whatever the locale.
QString tenthsText(int tenths);

// The controller's exception code in the operator's words, as the outcome
// says it: "refused: value refused", "the controller failed", "busy: try
// again later".
QString exceptionOutcomeText(int code);

// "accepted", "taken (its answer was lost)", "the controller set 185.0 °C,
// not 190.0", "not taken", "refused: value refused", "no answer", "not read
// back: the window was closed", "not sent: the port was lost".
QString setpointOutcomeText(const SetpointChange& change, const SetpointOutcome& outcome);

} // namespace tklink
