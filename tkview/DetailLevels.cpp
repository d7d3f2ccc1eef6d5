#include "DetailLevels.h"

namespace tkview {

DetailLevels::DetailLevels(const Timeline& timeline) : timeline_(&timeline) {}

std::vector<Column> DetailLevels::columns(std::int64_t, std::int64_t, int count) const {
    return std::vector<Column>(std::size_t(std::max(count, 0)));
}

Column DetailLevels::range(std::size_t, std::size_t) const {
    return {};
}

std::size_t DetailLevels::memoryBytes() const {
    return 0;
}

} // namespace tkview
