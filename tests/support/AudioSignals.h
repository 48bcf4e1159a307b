#pragma once

#include "voice/MixedOutputAudioStream.h"
#include "voice/OpusCodec.h"

#include <QSignalSpy>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// Signals for the audio tests: Opus packets of a sine, one rendered block of
// an output, and the peak and strongest frequency of a recording.
namespace audiotest {

// count packets of one 20 ms frame each, a sine of hz at 48 kHz with peak amplitude (0..1).
inline std::vector<std::vector<uint8_t>> sinePackets(double hz, int count, int channels = 1,
                                                     double amplitude = 0.5) {
    velk::voice::OpusEncoder encoder(channels);
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int16_t> pcm(static_cast<size_t>(960 * channels));
    for (int p = 0; p < count; ++p) {
        for (int i = 0; i < 960; ++i) {
            const double t = (p * 960 + i) / 48000.0;
            const auto v = static_cast<int16_t>(32767.0 * amplitude * std::sin(2 * M_PI * hz * t));
            for (int c = 0; c < channels; ++c) {
                pcm[static_cast<size_t>(i * channels + c)] = v;
            }
        }
        packets.push_back(encoder.encode(pcm.data(), 960));
    }
    return packets;
}

// Power of one channel of interleaved samples at hz (Goertzel).
inline double powerAt(const std::vector<float>& s, int rate, int channels, double hz, int channel = 0) {
    const double w = 2 * M_PI * hz / rate;
    const double k = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = static_cast<size_t>(channel); i < s.size(); i += static_cast<size_t>(channels)) {
        const double s0 = s[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// The strongest frequency between 100 Hz and 6 kHz, to 5 Hz.
inline double dominantFrequency(const std::vector<float>& s, int rate, int channels, int channel = 0) {
    double best = 0, bestPower = -1;
    for (double hz = 100; hz <= 6000; hz += 5) {
        const double p = powerAt(s, rate, channels, hz, channel);
        if (p > bestPower) {
            bestPower = p;
            best = hz;
        }
    }
    return best;
}

// Opus packets decoded one after the other.
inline std::vector<float> decodeAll(const std::vector<std::vector<uint8_t>>& packets, int channels) {
    velk::voice::OpusDecoder decoder(channels);
    std::vector<float> pcm;
    for (const auto& p : packets) {
        const auto d = decoder.decode(p.data(), int(p.size()));
        pcm.insert(pcm.end(), d.begin(), d.end());
    }
    return pcm;
}

// Every packet a spy on encodedAudioReady caught, decoded one after the other.
// The spy must be fed on this thread: on an AudioHandler, or on a stream driven without a device.
inline std::vector<float> decodeAll(const QSignalSpy& packets, int channels) {
    std::vector<std::vector<uint8_t>> caught;
    for (const auto& args : packets) {
        caught.push_back(args.at(0).value<std::vector<uint8_t>>());
    }
    return decodeAll(caught, channels);
}

// One block of an output, as its device callback would take it.
inline std::vector<float> render(velk::voice::MixedOutputAudioStream& out) {
    std::vector<float> block(size_t(out.blockSamples()));
    out.renderOutput(block.data(), static_cast<unsigned long>(out.blockSamples() / out.channels()));
    return block;
}

// Share of one channel's energy that lies in the tone at hz: 1 for one steady
// tone (less where it breaks off and resumes), 1/n for each of n equal tones,
// little for noise.
inline double toneShare(const std::vector<float>& s, int rate, int channels, double hz, int channel = 0) {
    double energy = 0;
    size_t n = 0;
    for (size_t i = static_cast<size_t>(channel); i < s.size(); i += static_cast<size_t>(channels), ++n) {
        energy += double(s[i]) * s[i];
    }
    return energy > 0 ? 2 * powerAt(s, rate, channels, hz, channel) / (double(n) * energy) : 0;
}

inline float peak(const std::vector<float>& v) {
    float p = 0;
    for (float x : v) {
        p = std::max(p, std::fabs(x));
    }
    return p;
}

} // namespace audiotest
