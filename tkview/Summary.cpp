#include "Summary.h"

namespace tkview {

Summary summarize(const Timeline&, std::int64_t, std::int64_t, double bandDegrees) {
    Summary summary;
    summary.bandDegrees = bandDegrees;
    return summary;
}

} // namespace tkview
