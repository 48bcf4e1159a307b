#include "voice/InputAudioStream.h"

#include "voice/AudioLimits.h"
#include "voice/OpusCodec.h"
#include "voice/PortAudioSupport.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velk::voice {

namespace {

int captureCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                    PaStreamCallbackFlags, void* userData) {
    static_cast<InputAudioStream*>(userData)->processInput(static_cast<const int16_t*>(input), frames);
    return paContinue;
}

int16_t toInt16(float x) {
    x = std::min(x, 32767.0f);
    if (x < -32768.0f) {
        x = -32768.0f;
    }
    return static_cast<int16_t>(x);
}

// Frames of 48 kHz audio kept beyond the one being encoded.
constexpr size_t kFifoFrames = 3;

} // namespace

InputAudioStream::InputAudioStream(OpusEncoder* encoder, QObject* parent)
    : QObject(parent), m_encoder(encoder) {}

InputAudioStream::~InputAudioStream() {
    stop();
}

void InputAudioStream::setMicGainDb(double db) {
    m_micGainDb.store(clampGainDb(db));
}

bool InputAudioStream::prepare(const StreamConfig& config) {
    const bool usable = config.withinLimits();
    if (!usable) {
        qWarning() << "InputAudioStream: unusable stream configuration" << config.sampleRate
                   << config.channels << config.blockSamples;
        return false;
    }
    if (!m_encoder || m_encoder->channels() != config.channels) {
        qWarning() << "InputAudioStream: encoder does not match" << config.channels << "channels";
        return false;
    }
    m_sampleRate = config.sampleRate;
    m_channels = config.channels;
    m_maxFrames = static_cast<size_t>(config.framesPerBlock());
    const size_t ch = static_cast<size_t>(m_channels);
    m_block.assign(m_maxFrames * ch, 0.0f);
    if (!m_resampler.configure(m_sampleRate, kOpusRate, m_channels, m_maxFrames)) {
        return false;
    }
    m_fifo.assign((kFifoFrames * kOpusFrameSamples + m_resampler.maxOutFrames()) * ch, 0.0f);
    m_fifoFill = 0;
    m_frame.assign(kOpusFrameSamples * ch, 0);
    m_gateWasOpen = false;
    return true;
}

bool InputAudioStream::start(const StreamConfig& config) {
    return begin(config, true);
}

bool InputAudioStream::startWithoutDevice(const StreamConfig& config) {
    return begin(config, false);
}

bool InputAudioStream::begin(const StreamConfig& config, bool openDevice) {
    const PortAudioStreamRequest request{.owner = "InputAudioStream",
                                         .input = true,
                                         .device = config.device,
                                         .channels = config.channels,
                                         .format = paInt16,
                                         .sampleRate = double(config.sampleRate),
                                         .framesPerBuffer =
                                             static_cast<unsigned long>(config.framesPerBlock()),
                                         .callback = &captureCallback,
                                         .userData = this};
    return m_device.start(request, openDevice, [&] { return prepare(config); });
}

void InputAudioStream::stop() {
    std::lock_guard lock(portAudioMutex());
    m_device.close();
    qDebug() << "InputAudioStream: stopped";
}

bool InputAudioStream::restart(const StreamConfig& config) {
    std::lock_guard lock(portAudioMutex());
    stop();
    return start(config);
}

void InputAudioStream::processInput(const int16_t* samples, unsigned long frames) {
    if (!m_pttActive.load(std::memory_order_relaxed)) {
        if (m_gateWasOpen) {
            closeGate();
        }
        return;
    }
    if (!samples || m_maxFrames == 0) {
        return;
    }
    m_leadIn = !m_gateWasOpen;
    m_gateWasOpen = true;
    size_t left = frames;
    while (left > 0) {
        const size_t n = std::min(left, m_maxFrames);
        processBlock(samples, n);
        samples += n * static_cast<size_t>(m_channels);
        left -= n;
    }
}

void InputAudioStream::processBlock(const int16_t* samples, size_t frames) {
    const size_t n = frames * static_cast<size_t>(m_channels);
    const float gain =
        std::pow(10.0f, static_cast<float>(m_micGainDb.load(std::memory_order_relaxed)) / 20.0f);
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const int16_t g = toInt16(static_cast<float>(samples[i]) * gain);
        const double s = g / 32768.0;
        sum += s * s;
        m_block[i] = static_cast<float>(g) * (1.0f / 32768.0f);
    }
    const VolumeInfo level = VolumeInfo::fromRms(std::sqrt(sum / static_cast<double>(n)));

    const size_t produced = m_resampler.process(m_block.data(), frames) * static_cast<size_t>(m_channels);
    if (produced == 0) {
        return;
    }
    if (m_fifoFill + produced > m_fifo.size()) {
        // More than the FIFO holds (never at a steady rate): keep the newest.
        const size_t drop = std::min(m_fifoFill, m_fifoFill + produced - m_fifo.size());
        std::memmove(m_fifo.data(), m_fifo.data() + drop, (m_fifoFill - drop) * sizeof(float));
        m_fifoFill -= drop;
    }
    std::memcpy(m_fifo.data() + m_fifoFill, m_resampler.output(), produced * sizeof(float));
    m_fifoFill += produced;
    if (m_leadIn) {
        m_leadIn = false;
        m_fifoFill = leadInWithSilence(m_fifo, m_fifoFill, m_frame.size(), m_channels);
    }
    encodeReadyFrames(level);
}

void InputAudioStream::encodeReadyFrames(const VolumeInfo& level) {
    const size_t frameSamples = m_frame.size();
    while (m_fifoFill >= frameSamples) {
        for (size_t i = 0; i < frameSamples; ++i) {
            m_frame[i] = toInt16(m_fifo[i] * 32767.0f);
        }
        std::memmove(m_fifo.data(), m_fifo.data() + frameSamples,
                     (m_fifoFill - frameSamples) * sizeof(float));
        m_fifoFill -= frameSamples;
        const int len = m_encoder->encodeInto(m_frame.data(), kOpusFrameSamples, m_packet.data(),
                                              static_cast<int>(m_packet.size()));
        if (len <= 0) {
            continue;
        }
        emit inputVolumeChanged(level);
        emit encodedAudioReady(std::vector<uint8_t>(m_packet.begin(), m_packet.begin() + len));
    }
}

void InputAudioStream::closeGate() {
    // Run silence through the converter so the next transmission does not
    // start with the tail of this one, and drop what was not encoded.
    std::fill(m_block.begin(), m_block.end(), 0.0f);
    m_resampler.process(m_block.data(), m_maxFrames);
    m_fifoFill = 0;
    m_gateWasOpen = false;
}

} // namespace velk::voice
