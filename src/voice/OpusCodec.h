#pragma once

#include <cstdint>
#include <vector>

// The Opus library's own state types; never bring velk::voice into scope
// where opus.h is included, the names are the same.
struct OpusEncoder;
struct OpusDecoder;

namespace velk::voice {

// 20 ms Opus frames at 48 kHz: 960 samples per channel.
inline constexpr int kOpusRate = 48000;
inline constexpr int kOpusFrameSamples = 960;
inline constexpr int kOpusMaxPacketBytes = 4000;

// Turns 20 ms blocks of 16-bit samples at 48 kHz into Opus packets (VoIP, 24 kbit/s).
class OpusEncoder {
public:
    explicit OpusEncoder(int channels = 1);
    ~OpusEncoder();
    OpusEncoder(const OpusEncoder&) = delete;
    OpusEncoder& operator=(const OpusEncoder&) = delete;

    // Re-creates the encoder for this channel count; the old state is dropped.
    void init(int channels);
    // One packet; empty on failure.
    std::vector<uint8_t> encode(const int16_t* samples, int frameSize);
    // Encodes into out (at most capacity bytes) without allocating; the packet
    // length, or 0 on failure.
    int encodeInto(const int16_t* samples, int frameSize, uint8_t* out, int capacity);

    int channels() const { return m_channels; }

private:
    ::OpusEncoder* m_handle = nullptr;
    int m_channels = 1;
};

// Turns Opus packets back into float samples (int16 / 32768) at 48 kHz.
class OpusDecoder {
public:
    explicit OpusDecoder(int channels = 1);
    ~OpusDecoder();
    OpusDecoder(const OpusDecoder&) = delete;
    OpusDecoder& operator=(const OpusDecoder&) = delete;

    void init(int channels);
    // Interleaved samples of one packet; empty on failure.
    std::vector<float> decode(const uint8_t* data, int size);
    // Decodes into out, which holds channels() * kOpusFrameSamples floats; the sample count over
    // all channels, or 0 on failure.
    int decodeInto(const uint8_t* data, int size, float* out);

    int channels() const { return m_channels; }

private:
    ::OpusDecoder* m_handle = nullptr;
    int m_channels = 1;
    int m_frameSamples = kOpusFrameSamples;
    std::vector<int16_t> m_pcm;
    std::uint64_t m_decodeErrors = 0;
};

} // namespace velk::voice
