#pragma once

#include <cstdint>

namespace velk::voice {

// A flood of bad input must not flood the log: warn for the first few
// occurrences, then for every thousandth.
inline bool worthWarning(std::uint64_t count, std::uint64_t firstFew = 3) {
    return count <= firstFew || count % 1000 == 0;
}

} // namespace velk::voice
