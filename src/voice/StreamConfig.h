#pragma once

#include <QtGlobal>

#include <optional>

namespace velk::voice {

// What an audio stream is opened with and a codec is created for.
struct StreamConfig {
    qint32 sampleRate = 44100;
    qint32 channels = 1;
    // Samples of one 20 ms block over all channels.
    qint32 blockSamples = 882;
    // PortAudio device index; empty for the default device.
    std::optional<qint32> device;

    static StreamConfig make(qint32 sampleRate, qint32 channels, std::optional<qint32> device = {}) {
        return {sampleRate, channels, static_cast<qint32>(sampleRate / 50.0) * channels, device};
    }
    qint32 framesPerBlock() const { return channels > 0 ? blockSamples / channels : 0; }

    static constexpr qint32 kMinSampleRate = 8000;
    static constexpr qint32 kMaxSampleRate = 384000;
    // What a stream can be opened with: a sane rate, mono or stereo, a whole frame per block.
    bool withinLimits() const {
        return sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate &&
               (channels == 1 || channels == 2) && framesPerBlock() >= 1;
    }
};

} // namespace velk::voice
