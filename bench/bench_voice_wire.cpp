// Receive paths of the voice service's wire formats: decoding one voice
// datagram and reading one control line, each beside its floor (copying the
// same bytes), with the ratio printed at the end.
#include "voice/ControlMessage.h"
#include "voice/VoicePacket.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace velk::voice;

namespace {

// One 20 ms Opus frame at 24 kbit/s is about 60 bytes.
const std::vector<std::uint8_t> kDatagram =
    encodeVoicePacket(1234567, 0, 118500, "CES123", std::vector<std::uint8_t>(60, 0x5A));
const std::string kLine = toJson({ControlMessageType::Channel, 1234567, "CES123", 1, "118500:1"});

void BM_DecodeVoiceDatagram(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeVoicePacket(kDatagram.data(), kDatagram.size()));
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kDatagram.size()));
}
BENCHMARK(BM_DecodeVoiceDatagram);

void BM_CopyVoiceDatagram(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<std::uint8_t> copy(kDatagram.begin(), kDatagram.end());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kDatagram.size()));
}
BENCHMARK(BM_CopyVoiceDatagram);

void BM_ReadControlLine(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(readControlMessage(kLine));
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kLine.size()));
}
BENCHMARK(BM_ReadControlLine);

void BM_CopyControlLine(benchmark::State& state) {
    for (auto _ : state) {
        std::string copy(kLine);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kLine.size()));
}
BENCHMARK(BM_CopyControlLine);

// Keeps each run's time per iteration so that the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nanoseconds;

    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const std::pair<const char*, const char*> pairs[] = {{"BM_DecodeVoiceDatagram", "BM_CopyVoiceDatagram"},
                                                         {"BM_ReadControlLine", "BM_CopyControlLine"}};
    for (const auto& [work, floor] : pairs) {
        const double w = reporter.nanoseconds[work];
        const double f = reporter.nanoseconds[floor];
        if (w > 0 && f > 0) {
            std::printf("%s / %s = %.1f\n", work, floor, w / f);
        }
    }
    return 0;
}
