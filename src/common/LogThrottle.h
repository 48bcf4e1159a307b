#pragma once

#include "common/OneLine.h"

#include <cstdint>

namespace velk::common {

// A flood of bad input must not flood the log: warn for the first few
// occurrences, then for every thousandth.
inline bool worthWarning(std::uint64_t count, std::uint64_t firstFew = 3) {
    return count <= firstFew || count % 1000 == 0;
}

// A peer's text for the log: a line of it can be 64 KB, the start is enough.
inline QString logExcerpt(const QString& text) {
    return excerpt(text, 200);
}

} // namespace velk::common
