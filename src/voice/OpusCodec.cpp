#include "voice/OpusCodec.h"

#include "common/LogThrottle.h"

#include <QDebug>

#include <opus.h>

namespace velk::voice {

namespace {

int validChannels(int channels) {
    return channels == 2 ? 2 : 1;
}

} // namespace

OpusEncoder::OpusEncoder(int channels) {
    init(channels);
}

OpusEncoder::~OpusEncoder() {
    if (m_handle) {
        opus_encoder_destroy(m_handle);
    }
}

void OpusEncoder::init(int channels) {
    if (m_handle) {
        opus_encoder_destroy(m_handle);
        m_handle = nullptr;
    }
    // Opus only knows mono and stereo; anything else would be a bad stride later.
    m_channels = validChannels(channels);
    int error = OPUS_OK;
    ::OpusEncoder* handle = opus_encoder_create(kOpusRate, m_channels, OPUS_APPLICATION_VOIP, &error);
    if (error != OPUS_OK || !handle) {
        if (handle) {
            opus_encoder_destroy(handle);
        }
        qWarning().noquote() << "OpusEncoder: failed to create encoder:" << opus_strerror(error);
        return;
    }
    opus_encoder_ctl(handle, OPUS_SET_BITRATE(24000));
    m_handle = handle;
}

std::vector<uint8_t> OpusEncoder::encode(const int16_t* samples, int frameSize) {
    std::vector<uint8_t> packet(kOpusMaxPacketBytes);
    const int len = encodeInto(samples, frameSize, packet.data(), kOpusMaxPacketBytes);
    packet.resize(static_cast<size_t>(len));
    return packet;
}

int OpusEncoder::encodeInto(const int16_t* samples, int frameSize, uint8_t* out, int capacity) {
    if (!samples || !m_handle || !out) {
        return 0;
    }
    const int result = opus_encode(m_handle, samples, frameSize, out, capacity);
    if (result < 0) {
        qWarning().noquote() << "OpusEncoder: encode error:" << opus_strerror(result);
        return 0;
    }
    return result;
}

OpusDecoder::OpusDecoder(int channels) {
    init(channels);
}

OpusDecoder::~OpusDecoder() {
    if (m_handle) {
        opus_decoder_destroy(m_handle);
    }
}

void OpusDecoder::init(int channels) {
    if (m_handle) {
        opus_decoder_destroy(m_handle);
        m_handle = nullptr;
    }
    m_channels = validChannels(channels);
    m_frameSamples = m_channels * kOpusFrameSamples;
    m_pcm.assign(static_cast<size_t>(m_frameSamples), 0);
    int error = OPUS_OK;
    ::OpusDecoder* handle = opus_decoder_create(kOpusRate, m_channels, &error);
    if (error != OPUS_OK || !handle) {
        if (handle) {
            opus_decoder_destroy(handle);
        }
        qWarning().noquote() << "OpusDecoder: failed to create decoder:" << opus_strerror(error);
        return;
    }
    m_handle = handle;
}

std::vector<float> OpusDecoder::decode(const uint8_t* data, int size) {
    std::vector<float> out(static_cast<size_t>(m_frameSamples));
    out.resize(static_cast<size_t>(decodeInto(data, size, out.data())));
    return out;
}

int OpusDecoder::decodeInto(const uint8_t* data, int size, float* out) {
    if (size <= 0 || !data || !m_handle || !out) {
        return 0;
    }
    const int frames = opus_decode(m_handle, data, size, m_pcm.data(), kOpusFrameSamples, 0);
    if (frames < 0) {
        if (common::worthWarning(++m_decodeErrors)) {
            qWarning().noquote() << "OpusDecoder: decode error:" << opus_strerror(frames);
        }
        return 0;
    }
    const int count = frames * m_channels;
    constexpr float scale = 1.0f / 32768.0f;
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<float>(m_pcm[static_cast<size_t>(i)]) * scale;
    }
    return count;
}

} // namespace velk::voice
