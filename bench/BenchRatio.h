#pragma once

// Each benchmark notes its cost per item under a key; after the run, main
// prints each measured path against its floor (the same work reduced to the
// library calls or plain copies) as a ratio.
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace velk::bench {

inline std::map<std::string, double>& costs() {
    static std::map<std::string, double> table;
    return table;
}

// Nanoseconds per item, kept from the last (longest) run of a benchmark.
inline void noteCost(const std::string& key, std::chrono::nanoseconds elapsed, double items) {
    if (items > 0) {
        costs()[key] = static_cast<double>(elapsed.count()) / items;
    }
}

struct Ratio {
    std::string path;
    std::string floor;
};

inline void printRatios(const std::vector<Ratio>& ratios) {
    for (const Ratio& r : ratios) {
        const auto path = costs().find(r.path);
        const auto floor = costs().find(r.floor);
        if (path == costs().end() || floor == costs().end() || floor->second <= 0) {
            continue;
        }
        std::printf("ratio %s / %s = %.1f (%.1f ns vs %.1f ns per item)\n", r.path.c_str(), r.floor.c_str(),
                    path->second / floor->second, path->second, floor->second);
    }
}

} // namespace velk::bench
