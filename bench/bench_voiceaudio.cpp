// The two audio callbacks' hot paths beside their floors: a capture block
// (gain, level, rate conversion, encoding) against opus_encode of the same
// block alone, and decoding plus mixing N talkers against N × opus_decode.
#include "voice/InputAudioStream.h"
#include "voice/MixedOutputAudioStream.h"
#include "voice/OpusCodec.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>
#include <opus.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace voice = velk::voice;

namespace {

constexpr int kBlocks = 50; // one second of audio, cycled

// Speech-like test signal: two tones and a little noise, int16 at rate.
std::vector<int16_t> signal(int rate, int samples) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-600, 600);
    std::vector<int16_t> s(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / rate;
        s[size_t(i)] =
            int16_t(6000 * std::sin(2 * M_PI * 310 * t) + 3000 * std::sin(2 * M_PI * 1270 * t) + noise(rng));
    }
    return s;
}

void BM_CaptureBlock(benchmark::State& state) {
    const int rate = int(state.range(0));
    const int frames = rate / 50;
    const auto pcm = signal(rate, frames * kBlocks);
    voice::OpusEncoder encoder(1);
    voice::InputAudioStream capture(&encoder);
    capture.startWithoutDevice(voice::StreamConfig::make(rate, 1));
    capture.setMicGainDb(6);
    capture.setPttActive(true);
    int b = 0;
    for (auto _ : state) {
        capture.processInput(pcm.data() + size_t(b * frames), static_cast<unsigned long>(frames));
        b = (b + 1) % kBlocks;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CaptureBlock)->Arg(44100)->Arg(48000)->Unit(benchmark::kMicrosecond);

// The floor: the library's encode of the same audio, already at 48 kHz.
void BM_OpusEncodeOnly(benchmark::State& state) {
    const auto pcm = signal(48000, 960 * kBlocks);
    int error = 0;
    ::OpusEncoder* enc = opus_encoder_create(48000, 1, OPUS_APPLICATION_VOIP, &error);
    opus_encoder_ctl(enc, OPUS_SET_BITRATE(24000));
    std::vector<unsigned char> packet(4000);
    int b = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(opus_encode(enc, pcm.data() + size_t(b * 960), 960, packet.data(), 4000));
        b = (b + 1) % kBlocks;
    }
    opus_encoder_destroy(enc);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpusEncodeOnly)->Arg(44100)->Arg(48000)->Unit(benchmark::kMicrosecond);

// One second of packets per talker, each talker on its own tone.
std::vector<std::vector<std::vector<uint8_t>>> talkerPackets(int talkers) {
    std::vector<std::vector<std::vector<uint8_t>>> all;
    for (int t = 0; t < talkers; ++t) {
        voice::OpusEncoder encoder(1);
        auto pcm = signal(48000, 960 * kBlocks);
        for (size_t i = 0; i < pcm.size(); ++i) {
            pcm[i] = int16_t(pcm[i] / 2 + 4000 * std::sin(2 * M_PI * (400 + 90 * t) * double(i) / 48000));
        }
        std::vector<std::vector<uint8_t>> packets;
        for (int b = 0; b < kBlocks; ++b) {
            packets.push_back(encoder.encode(pcm.data() + size_t(b * 960), 960));
        }
        all.push_back(std::move(packets));
    }
    return all;
}

void BM_DecodeMix(benchmark::State& state) {
    const int talkers = int(state.range(0));
    const int rate = int(state.range(1));
    const auto packets = talkerPackets(talkers);
    voice::MixedOutputAudioStream out;
    out.startWithoutDevice(voice::StreamConfig::make(rate, 1));
    for (int t = 0; t < talkers; ++t) {
        out.addSource(t);
    }
    std::vector<float> device(size_t(rate / 50));
    int b = 0;
    for (auto _ : state) {
        for (int t = 0; t < talkers; ++t) {
            out.pushEncodedAudio(t, packets[size_t(t)][size_t(b)], false, 0.8f);
        }
        out.renderOutput(device.data(), static_cast<unsigned long>(device.size()));
        benchmark::DoNotOptimize(device.data());
        b = (b + 1) % kBlocks;
    }
    state.SetItemsProcessed(state.iterations() * talkers);
}

// The floor: N decoders, one packet each, nothing else.
void BM_OpusDecodeOnly(benchmark::State& state) {
    const int talkers = int(state.range(0));
    const auto packets = talkerPackets(talkers);
    std::vector<::OpusDecoder*> decoders;
    for (int t = 0; t < talkers; ++t) {
        int error = 0;
        decoders.push_back(opus_decoder_create(48000, 1, &error));
    }
    std::vector<opus_int16> pcm(960);
    int b = 0;
    for (auto _ : state) {
        for (int t = 0; t < talkers; ++t) {
            const auto& p = packets[size_t(t)][size_t(b)];
            benchmark::DoNotOptimize(
                opus_decode(decoders[size_t(t)], p.data(), opus_int32(p.size()), pcm.data(), 960, 0));
        }
        b = (b + 1) % kBlocks;
    }
    for (auto* d : decoders) {
        opus_decoder_destroy(d);
    }
    state.SetItemsProcessed(state.iterations() * talkers);
}

void talkerArgs(benchmark::internal::Benchmark* b) {
    for (int rate : {48000, 44100}) {
        for (int n : {1, 2, 4, 8}) {
            b->Args({n, rate});
        }
    }
}
BENCHMARK(BM_DecodeMix)->Apply(talkerArgs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpusDecodeOnly)->Apply(talkerArgs)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); // the streams' start and stop lines
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nratio to floor (goal: capture <= 1.3, decode and mix <= 1.5)\n");
    for (const auto& [name, seconds] : reporter.all()) {
        for (const auto& [product, floor] : {std::pair{"BM_CaptureBlock/", "BM_OpusEncodeOnly/"},
                                             std::pair{"BM_DecodeMix/", "BM_OpusDecodeOnly/"}}) {
            const std::string prefix(product);
            if (name.rfind(prefix, 0) == 0) {
                reporter.printRatio(name, floor + name.substr(prefix.size()));
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
