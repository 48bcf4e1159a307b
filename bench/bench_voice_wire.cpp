// Receive paths of the voice service's wire formats: decoding one voice
// datagram and reading one control line, each beside its floor (copying the
// same bytes), with the ratio printed at the end.
#include "voice/ControlMessage.h"
#include "voice/VoicePacket.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

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

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatio("BM_DecodeVoiceDatagram", "BM_CopyVoiceDatagram");
    reporter.printRatio("BM_ReadControlLine", "BM_CopyControlLine");
    return 0;
}
