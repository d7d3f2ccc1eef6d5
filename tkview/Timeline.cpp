#include "Timeline.h"

#include <algorithm>

namespace tkview {

std::size_t Timeline::lowerBound(std::int64_t timeMs) const {
    const auto it =
        std::lower_bound(records.begin(), records.end(), timeMs,
                         [](const Record& record, std::int64_t t) { return record.timeMs < t; });
    return std::size_t(it - records.begin());
}

} // namespace tkview
