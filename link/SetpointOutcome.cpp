#include "SetpointOutcome.h"

#include "SetpointFrame.h"

#include <cstdlib>

namespace tklink {

SetpointOutcome setpointOutcome(const SetpointChange& change, const WriteReply& reply,
                                std::optional<int16_t> readBack, const QString& whyNotReadBack) {
    using Kind = SetpointOutcome::Kind;
    const bool exception = reply.kind == WriteReply::Kind::Exception;
    const int code = exception ? reply.exceptionCode : 0;
    if (!readBack) {
        switch (reply.kind) {
        case WriteReply::Kind::Confirmed:
            return {Kind::NotReadBack, 0, 0, whyNotReadBack};
        case WriteReply::Kind::Exception:
            return {Kind::Refused, code, 0, {}};
        case WriteReply::Kind::Lost:
            return {Kind::NoAnswer, 0, 0, whyNotReadBack};
        }
    }
    if (*readBack == change.toTenths)
        return {reply.kind == WriteReply::Kind::Confirmed ? Kind::Accepted : Kind::TakenAnswerLost,
                code,
                0,
                {}};
    if (*readBack == change.fromTenths)
        return {exception ? Kind::Refused : Kind::NotTaken, code, 0, {}};
    // A controller that clamps to its own limits sets another value than the
    // one written; that is a change, and not the one asked for.
    return {Kind::SetOther, code, *readBack, {}};
}

QString tenthsText(int tenths) {
    const QString digits = QString::number(std::abs(tenths) / 10) + QLatin1Char('.') +
                           QString::number(std::abs(tenths) % 10);
    return tenths < 0 ? QLatin1Char('-') + digits : digits;
}

QString exceptionOutcomeText(int code) {
    // A failed or busy controller did not weigh the value: not a refusal.
    if (code == 4 || code == 6)
        return writeExceptionText(code);
    return QStringLiteral("refused: ") + writeExceptionText(code);
}

QString setpointOutcomeText(const SetpointChange& change, const SetpointOutcome& outcome) {
    using Kind = SetpointOutcome::Kind;
    const auto withWhy = [&outcome](const QString& text) {
        return outcome.why.isEmpty() ? text : text + QStringLiteral(": ") + outcome.why;
    };
    switch (outcome.kind) {
    case Kind::Accepted:
        return QStringLiteral("accepted");
    case Kind::Refused:
        return exceptionOutcomeText(outcome.exceptionCode);
    case Kind::NoAnswer:
        return withWhy(QStringLiteral("no answer"));
    case Kind::NotSent:
        return withWhy(QStringLiteral("not sent"));
    case Kind::NotReadBack:
        return withWhy(QStringLiteral("not read back"));
    case Kind::TakenAnswerLost:
        if (outcome.exceptionCode != 0)
            return QStringLiteral("taken (though it answered exception %1)")
                .arg(outcome.exceptionCode);
        return QStringLiteral("taken (its answer was lost)");
    case Kind::SetOther:
        return QStringLiteral("the controller set %1 °C, not %2")
            .arg(tenthsText(outcome.shownTenths), tenthsText(change.toTenths));
    case Kind::NotTaken:
        return QStringLiteral("not taken");
    }
    return {};
}

} // namespace tklink
