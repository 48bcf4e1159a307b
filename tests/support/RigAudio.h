#pragma once

#include "voice/InputAudioStream.h"
#include "voice/MixedOutputAudioStream.h"
#include "voice/OpusCodec.h"
#include "voice/ToneGenerator.h"

#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

// The test's own mouth and ear on a JACK rig device, for tests that carry
// sound end to end. Both need PortAudio initialised.
namespace audiotest {

// Plays a steady tone into a device for as long as it lives.
class RigMouth {
public:
    RigMouth(int device, int rate, int channels, float hz)
        : m_config(velk::voice::StreamConfig::make(rate, channels, device)), m_tone(rate, hz, 0.3f) {
        QObject::connect(&m_feed, &QTimer::timeout, [this] {
            m_out.enqueueOneShot(m_tone.generateBlock(m_config.framesPerBlock(), m_config.channels, 1.0f));
        });
        m_feed.start(10);
    }
    bool start() { return m_out.start(m_config); }

private:
    velk::voice::StreamConfig m_config;
    velk::voice::MixedOutputAudioStream m_out;
    velk::voice::ToneGenerator m_tone;
    QTimer m_feed;
};

// Records a device as one Opus packet per 20 ms block. The packets come on
// the audio thread: they are read under a lock, and the stream stops before
// they go.
class RigEar {
public:
    RigEar(int device, int rate, int channels)
        : m_config(velk::voice::StreamConfig::make(rate, channels, device)), m_encoder(channels) {
        QObject::connect(&m_in, &velk::voice::InputAudioStream::encodedAudioReady,
                         [this](std::vector<uint8_t> packet) {
                             std::lock_guard lock(m_lock);
                             m_packets.push_back(std::move(packet));
                         });
    }
    ~RigEar() { m_in.stop(); }
    RigEar(const RigEar&) = delete;
    RigEar& operator=(const RigEar&) = delete;

    bool start() {
        m_in.setPttActive(true);
        return m_in.start(m_config);
    }
    int blocks() const {
        std::lock_guard lock(m_lock);
        return int(m_packets.size());
    }
    // Waits until `count` more blocks than `from` were heard.
    bool waitFor(int from, int count) {
        return QTest::qWaitFor([&] { return blocks() >= from + count; }, 10000);
    }
    // The packets heard from block `from` on.
    std::vector<std::vector<uint8_t>> packets(int from = 0) const {
        std::lock_guard lock(m_lock);
        return {m_packets.begin() + std::min(from, int(m_packets.size())), m_packets.end()};
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::vector<uint8_t>> m_packets;
    velk::voice::StreamConfig m_config;
    velk::voice::OpusEncoder m_encoder;
    velk::voice::InputAudioStream m_in{&m_encoder};
};

} // namespace audiotest
