#include "voice/Resampler.h"

#include <QDebug>

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velk::voice {

namespace {

bool usableRate(double rate) {
    return std::isfinite(rate) && rate >= 1.0;
}

} // namespace

std::vector<float> resampleFloat(const float* in, size_t count, double inRate, double outRate, int channels) {
    channels = std::max(channels, 1);
    const size_t frames = count / static_cast<size_t>(channels);
    if (!in || frames == 0) {
        return {};
    }
    if (!usableRate(inRate) || !usableRate(outRate)) {
        qWarning() << "resampleFloat: soxr error: invalid rate" << inRate << outRate;
        return {};
    }
    const size_t capacity =
        static_cast<size_t>(std::ceil(static_cast<double>(frames) * outRate / inRate)) + 1;
    std::vector<float> out(capacity * static_cast<size_t>(channels));
    size_t done = 0;
    const soxr_error_t error = soxr_oneshot(inRate, outRate, static_cast<unsigned>(channels), in, frames,
                                            nullptr, out.data(), capacity, &done, nullptr, nullptr, nullptr);
    if (error) {
        qWarning().noquote() << "resampleFloat: soxr error:" << error;
        return {};
    }
    out.resize(done * static_cast<size_t>(channels));
    return out;
}

size_t leadInWithSilence(std::vector<float>& fifo, size_t fill, size_t need, int channels) {
    const size_t target = need + kLeadInMarginFrames * static_cast<size_t>(std::max(channels, 1));
    if (fill >= need || target > fifo.size()) {
        return fill;
    }
    const size_t pad = target - fill;
    std::memmove(fifo.data() + pad, fifo.data(), fill * sizeof(float));
    std::fill_n(fifo.data(), pad, 0.0f);
    return target;
}

StreamResampler::~StreamResampler() {
    release();
}

bool StreamResampler::configure(double inRate, double outRate, int channels, size_t maxInFrames) {
    release();
    if (!usableRate(inRate) || !usableRate(outRate) || channels < 1 || maxInFrames == 0) {
        qWarning() << "StreamResampler: invalid configuration" << inRate << outRate << channels;
        return false;
    }
    m_channels = channels;
    m_maxInFrames = maxInFrames;
    // soxr may hand out what it held back from the previous call as well.
    m_maxOutFrames =
        static_cast<size_t>(std::ceil(static_cast<double>(maxInFrames) * outRate / inRate)) * 2 + 64;
    if (inRate != outRate) {
        soxr_error_t error = nullptr;
        // Low quality is what a one-shot conversion uses by default. Small
        // transform blocks keep its output steady per 20 ms block and its delay
        // near 2 ms; with the default sizes 48 to 44.1 kHz comes out in uneven
        // bursts, holding up to 10 ms back.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_LQ, 0);
        soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        runtime.log2_min_dft_size = 8;
        runtime.log2_large_dft_size = 8;
        m_soxr = soxr_create(inRate, outRate, static_cast<unsigned>(channels), &error, nullptr, &quality,
                             &runtime);
        if (error || !m_soxr) {
            qWarning().noquote() << "StreamResampler: soxr error:" << (error ? error : "no resampler");
            release();
            return false;
        }
    } else {
        m_maxOutFrames = maxInFrames;
    }
    m_out.assign(m_maxOutFrames * static_cast<size_t>(channels), 0.0f);
    m_configured = true;
    return true;
}

void StreamResampler::release() {
    if (m_soxr) {
        soxr_delete(m_soxr);
        m_soxr = nullptr;
    }
    m_configured = false;
}

size_t StreamResampler::process(const float* in, size_t frames) {
    if (!m_configured || !in) {
        return 0;
    }
    frames = std::min(frames, m_maxInFrames);
    if (!m_soxr) {
        std::memcpy(m_out.data(), in, frames * static_cast<size_t>(m_channels) * sizeof(float));
        return frames;
    }
    size_t done = 0;
    const soxr_error_t error = soxr_process(m_soxr, in, frames, nullptr, m_out.data(), m_maxOutFrames, &done);
    if (error) {
        return 0;
    }
    return done;
}

} // namespace velk::voice
