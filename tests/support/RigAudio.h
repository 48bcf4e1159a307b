#pragma once

#include "voice/InputAudioStream.h"
#include "voice/MixedOutputAudioStream.h"
#include "voice/OpusCodec.h"
#include "voice/ToneGenerator.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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

// Records a device as one Opus packet per 20 ms block.
class RigEar {
    velk::voice::StreamConfig m_config;
    velk::voice::OpusEncoder m_encoder;
    velk::voice::InputAudioStream m_in{&m_encoder};

public:
    RigEar(int device, int rate, int channels)
        : m_config(velk::voice::StreamConfig::make(rate, channels, device)), m_encoder(channels) {}
    bool start() {
        m_in.setPttActive(true);
        return m_in.start(m_config);
    }
    int blocks() const { return int(packets.count()); }
    // Waits until `count` more blocks than `from` were heard.
    bool waitFor(int from, int count) {
        return QTest::qWaitFor([&] { return blocks() >= from + count; }, 10000);
    }

    QSignalSpy packets{&m_in, &velk::voice::InputAudioStream::encodedAudioReady};
};

} // namespace audiotest
