#pragma once

#include "voice/PortAudioSupport.h"
#include "voice/Resampler.h"
#include "voice/StreamConfig.h"
#include "voice/VolumeInfo.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace velk::voice {

class OpusEncoder;

// The microphone: 20 ms blocks of 16-bit samples. While push-to-talk is held
// each block gets the microphone gain, is measured, converted to 48 kHz and
// encoded; every Opus frame is signalled with the block's level.
class InputAudioStream : public QObject {
    Q_OBJECT

public:
    // encoder is borrowed; the owner replaces it only while the stream is stopped.
    explicit InputAudioStream(OpusEncoder* encoder, QObject* parent = nullptr);
    ~InputAudioStream() override;

    // Opens and starts the device; false (after a warning) when it does not.
    bool start(const StreamConfig& config);
    // Sets the processing up and marks the stream running without a device:
    // processInput is then driven by the caller (tests, benchmarks).
    bool startWithoutDevice(const StreamConfig& config);
    void stop();
    bool restart(const StreamConfig& config);

    // The capture gate.
    void setPttActive(bool active) { m_pttActive.store(active); }
    bool pttActive() const { return m_pttActive.load(); }
    // Whole dB, kept within -60..+40; acts on the next block.
    void setMicGainDb(double db);
    double micGainDb() const { return m_micGainDb.load(); }

    // The device callback's work: frames × channels interleaved samples.
    void processInput(const int16_t* samples, unsigned long frames);

    bool isRunning() const { return m_device.isRunning(); }
    // Asked about once a second: the device has stopped calling back.
    bool deviceStopped() { return m_device.deviceStopped(); }
    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }

signals:
    void encodedAudioReady(std::vector<uint8_t> data);
    void inputVolumeChanged(velk::voice::VolumeInfo volume);

private:
    bool begin(const StreamConfig& config, bool openDevice);
    bool prepare(const StreamConfig& config);
    void processBlock(const int16_t* samples, size_t frames);
    void encodeReadyFrames(const VolumeInfo& level);
    void closeGate();

    OpusEncoder* m_encoder;
    CallbackStream m_device;
    std::atomic<bool> m_pttActive{false};
    std::atomic<double> m_micGainDb{0.0};
    int m_sampleRate = 44100;
    int m_channels = 1;

    // Made at start, used only by the callback: the packet its signal carries
    // is the only allocation per block.
    size_t m_maxFrames = 0;
    bool m_gateWasOpen = false;
    bool m_leadIn = false;       // the next block opens a transmission
    std::vector<float> m_block;  // gained block as float
    StreamResampler m_resampler; // device rate to 48 kHz
    std::vector<float> m_fifo;   // 48 kHz samples not yet encoded
    size_t m_fifoFill = 0;
    std::vector<int16_t> m_frame; // one Opus frame
    std::array<uint8_t, 4000> m_packet{};
};

} // namespace velk::voice
