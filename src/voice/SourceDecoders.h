#pragma once

#include "voice/OpusCodec.h"
#include "voice/VolumeInfo.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace velk::voice {

// The decoding side of one playback output: one Opus decoder per talker
// (source and sender), so that two talkers at once do not share codec
// history. Made on first use; the least recently used is replaced beyond
// kMaxTalkers. Not thread-safe: the output guards it.
class SourceDecoders {
public:
    static constexpr int kMaxTalkers = 8;
    // A talker silent for this long starts afresh: no stale part-chunk from the last transmission.
    static constexpr std::chrono::milliseconds kIdleReset{200};

    SourceDecoders();
    ~SourceDecoders();

    // Forgets every talker; later packets decode with this channel count.
    void configure(int channels);
    void clear();
    void removeSource(int source);

    // Whole 20 ms chunks of one talker, ready to be queued.
    using ChunkSink = std::function<void(const float* samples, size_t chunks)>;

    // Decodes one packet at 48 kHz, measures its level, scales it by volume
    // (kept within -1..1) and hands the whole 20 ms chunks that are ready to
    // sink; a shorter frame waits for the talker's next packet. False when the
    // packet does not decode.
    bool decode(int source, const QByteArray& sender, const uint8_t* data, int size, float volume,
                std::chrono::nanoseconds now, VolumeInfo& level, const ChunkSink& sink);

    int chunkSamples() const { return m_channels * kOpusFrameSamples; }
    int talkerCount() const { return static_cast<int>(m_talkers.size()); }

private:
    struct Talker;
    Talker& talkerFor(int source, const QByteArray& sender, std::chrono::nanoseconds now);

    int m_channels = 1;
    quint64 m_useCounter = 0;
    std::vector<std::unique_ptr<Talker>> m_talkers;
};

} // namespace velk::voice
