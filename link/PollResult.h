#pragma once

// How one poll of a controller ended.

#include <QMetaType>

namespace tklink {

enum class PollResult {
    Ok,          // a valid answer, decoded
    NoAnswer,    // nothing came in time
    BadAnswer,   // bytes came in time, but no valid frame
    Exception,   // the controller refused the request
    NotConnected // the tick found no port
};

inline constexpr int pollResultCount = 5;

} // namespace tklink

Q_DECLARE_METATYPE(tklink::PollResult)
