#pragma once

// The usual console table, keeping each benchmark's time per iteration (the
// median when repeated) so that main can print a path against its floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace velk::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!r.error_occurred && (r.run_type == Run::RT_Iteration || median)) {
                // Seconds, so that benchmarks in different units compare.
                m_seconds[r.run_name.str()] =
                    r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Seconds per iteration of a benchmark by its full name; 0 when it did not run.
    double seconds(const std::string& name) const {
        const auto it = m_seconds.find(name);
        return it == m_seconds.end() ? 0.0 : it->second;
    }

    const std::map<std::string, double>& all() const { return m_seconds; }

    // "path / floor = ratio" when both ran.
    void printRatio(const std::string& path, const std::string& floor) const {
        const double p = seconds(path);
        const double f = seconds(floor);
        if (p > 0 && f > 0) {
            std::printf("%s / %s = %.2f (%s vs %s)\n", path.c_str(), floor.c_str(), p / f,
                        readable(p).c_str(), readable(f).c_str());
        }
    }

private:
    static std::string readable(double seconds) {
        char text[32];
        if (seconds < 1e-6) {
            std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
        } else if (seconds < 1e-3) {
            std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
        } else {
            std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
        }
        return text;
    }

    std::map<std::string, double> m_seconds;
};

// Runs the benchmarks asked on the command line, then prints each path
// against its floor. Returns main's exit code.
inline int runWithRatios(int& argc, char** argv,
                         const std::vector<std::pair<std::string, std::string>>& pathsAndFloors) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [path, floor] : pathsAndFloors) {
        reporter.printRatio(path, floor);
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace velk::bench
