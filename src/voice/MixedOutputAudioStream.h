#pragma once

#include "voice/AudioClock.h"
#include "voice/BlockRing.h"
#include "voice/PortAudioSupport.h"
#include "voice/Resampler.h"
#include "voice/SourceDecoders.h"
#include "voice/StreamConfig.h"
#include "voice/ToneGenerator.h"
#include "voice/VolumeInfo.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velk::voice {

// One playback device (headphone or speaker): decodes the Opus packets of its
// sources, keeps a queue of 20 ms chunks at 48 kHz per source, and in the
// device callback mixes them with a soft clip and converts the mix to the
// device rate (one converter per output, whatever the number of talkers).
// Tone blocks in the one-shot queue take the place of the mix for one block
// each; a conflict holds the stream's own conflict tone in its place.
class MixedOutputAudioStream : public QObject {
    Q_OBJECT

public:
    // Most chunks a source may hold; beyond it the oldest is dropped.
    static constexpr int kMaxSourceChunks = 8;
    static constexpr int kMaxOneShotBlocks = 16;
    // Each conflicting packet holds the conflict tone for this many blocks:
    // packets come unevenly, and a tone made only of the blocks they bring
    // breaks up wherever one comes late.
    static constexpr int kConflictHoldBlocks = 4;
    // A source that held more than kSlackChunks + 1 chunks at every render for
    // this long loses its oldest.
    static constexpr std::chrono::milliseconds kBacklogDrain{500};
    // Chunks a source keeps beyond the one it plays: a packet that once came
    // late leaves one, and it covers the next that comes as late.
    static constexpr int kSlackChunks = 1;

    explicit MixedOutputAudioStream(QObject* parent = nullptr);
    ~MixedOutputAudioStream() override;

    // Opens and starts the device; false (after a warning) when it does not.
    bool start(const StreamConfig& config);
    // Sets the stream up and marks it running without a device: renderOutput
    // is then driven by the caller (tests, benchmarks).
    bool startWithoutDevice(const StreamConfig& config);
    // Closes the device and forgets every source and queued block.
    void stop();
    bool restart(const StreamConfig& config);

    void addSource(int id);
    void removeSource(int id);
    // Decodes and queues one packet for a source. With conflict the packet is
    // not decoded: the conflict tone is held instead. sender tells talkers on
    // one source apart.
    void pushEncodedAudio(int id, const std::vector<uint8_t>& packet, bool conflict, float volume,
                          const QByteArray& sender = {});
    void enqueueOneShot(std::vector<float>&& block);
    // Plays the conflict tone at volume in place of the mix for the next
    // kConflictHoldBlocks blocks, one wave from block to block.
    void holdConflictTone(float volume);

    // The device callback's work: frames × channels interleaved samples into buffer.
    void renderOutput(float* buffer, unsigned long frames);

    // Before start: the monotonic clock of the backlog drain.
    void setClock(AudioClock clock);

    bool isRunning() const { return m_device.isRunning(); }
    // Asked about once a second: the device has stopped calling back.
    bool deviceStopped() { return m_device.deviceStopped(); }
    int sampleRate() const { return m_sampleRate.load(); }
    int channels() const { return m_channels.load(); }
    int blockSamples() const { return m_blockSamples.load(); }
    bool hasSource(int id) const;
    // Chunks queued for a source; -1 when it is not registered.
    int queuedChunks(int id) const;
    int talkerCount() const;

signals:
    void outputVolumeChanged(velk::voice::VolumeInfo volume);

private:
    struct Source {
        int id = 0;
        BlockRing queue;
        std::chrono::nanoseconds backlogSince{-1};
    };

    bool begin(const StreamConfig& config, bool openDevice);
    bool configure(const StreamConfig& config);
    Source* findSource(int id);
    const Source* findSource(int id) const;
    // One 20 ms chunk of every source, summed and soft-clipped into m_mix.
    void mixSources();

    CallbackStream m_device;
    std::atomic<int> m_sampleRate{44100};
    std::atomic<int> m_blockSamples{0};
    std::atomic<int> m_channels{1};
    AudioClock m_clock;

    // Guards the talkers' decoders (pushing thread against start and stop).
    // Taken before m_mutex when both are held, never after.
    mutable std::mutex m_decodeMutex;
    SourceDecoders m_decoders;

    // Guards the queues and the mix state (pushing thread against the callback).
    mutable std::mutex m_mutex;
    std::vector<Source> m_sources;
    BlockRing m_oneShot;          // device-rate blocks
    ToneGenerator m_conflictTone; // at the device rate
    int m_conflictBlocks = 0;     // blocks the conflict tone still holds
    float m_conflictVolume = 0.0f;
    size_t m_chunkSamples = 0;   // one 48 kHz chunk over all channels
    std::vector<float> m_mix;    // one mixed chunk
    StreamResampler m_resampler; // 48 kHz to the device rate, made at start
    std::vector<float> m_fifo;   // device-rate mix not yet played
    size_t m_fifoFill = 0;
    bool m_leadIn = false; // the next mix is the first after a start
};

} // namespace velk::voice
