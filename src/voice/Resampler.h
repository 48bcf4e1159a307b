#pragma once

#include <cstddef>
#include <vector>

struct soxr; // soxr_t

namespace velk::voice {

// One-shot conversion of interleaved float samples between two rates; count is
// the number of samples over all channels. Empty on error.
std::vector<float> resampleFloat(const float* in, size_t count, double inRate, double outRate,
                                 int channels = 1);

// A streaming converter holds a few samples back at first, so its first output
// falls short of a block. Left so, every later block would wait a whole block
// for its last samples. Leading silence makes up the first shortfall, plus
// this margin (1 ms at 48 kHz) against an output a sample short now and then.
inline constexpr size_t kLeadInMarginFrames = 48;

// When the `fill` samples at the front of fifo fall short of `need`, puts
// silence before them up to `need` and the margin; returns the new fill.
size_t leadInWithSilence(std::vector<float>& fifo, size_t fill, size_t need, int channels);

// A streaming rate converter for one direction of one stream: made once, with
// its output buffer, so that process() does no heap work on an audio thread.
// Equal rates pass the samples through unchanged.
class StreamResampler {
public:
    StreamResampler() = default;
    ~StreamResampler();
    StreamResampler(const StreamResampler&) = delete;
    StreamResampler& operator=(const StreamResampler&) = delete;

    // Sets up for blocks of at most maxInFrames frames; false (with a warning) on error.
    bool configure(double inRate, double outRate, int channels, size_t maxInFrames);
    void release();

    // Converts frames × channels interleaved samples; the produced frames are at output().
    size_t process(const float* in, size_t frames);
    const float* output() const { return m_out.data(); }

    // Largest number of frames one process() call can produce.
    size_t maxOutFrames() const { return m_maxOutFrames; }

private:
    ::soxr* m_soxr = nullptr;
    bool m_configured = false;
    int m_channels = 1;
    size_t m_maxInFrames = 0;
    size_t m_maxOutFrames = 0;
    std::vector<float> m_out;
};

} // namespace velk::voice
