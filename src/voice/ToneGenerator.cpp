#include "voice/ToneGenerator.h"

#include <algorithm>
#include <cmath>

namespace velk::voice {

ToneGenerator::ToneGenerator(int sampleRate, float frequency, float amplitude)
    : m_sampleRate(sampleRate), m_frequency(frequency), m_amplitude(amplitude) {
    rebuild();
}

void ToneGenerator::setFrequency(float frequency) {
    m_frequency = frequency;
    rebuild();
}

void ToneGenerator::setSampleRate(int sampleRate) {
    m_sampleRate = sampleRate;
    rebuild();
}

void ToneGenerator::setAmplitude(float amplitude) {
    m_amplitude = amplitude;
    rebuild();
}

void ToneGenerator::configure(int sampleRate, float frequency, float amplitude) {
    m_sampleRate = sampleRate;
    m_frequency = frequency;
    m_amplitude = amplitude;
    rebuild();
}

void ToneGenerator::rebuild() {
    m_position = 0;
    const float amplitude = std::isfinite(m_amplitude) ? std::clamp(m_amplitude, -1.0f, 1.0f) : 0.0f;
    // Not a number, zero, negative or above half the rate: a silent one-sample
    // table. A tiny positive frequency is raised so that the table stays small.
    const float nyquist = static_cast<float>(m_sampleRate) / 2.0f;
    if (m_sampleRate <= 0 || !std::isfinite(m_frequency) || m_frequency <= 0.0f || m_frequency > nyquist) {
        m_period = 1;
        m_table.assign(1, 0.0f);
        return;
    }
    const float frequency = std::max(m_frequency, std::min(kMinFrequency, nyquist));
    m_period = std::max(static_cast<int>(static_cast<float>(m_sampleRate) / frequency), 1);
    m_table.resize(static_cast<size_t>(m_period));
    const float step = frequency * 6.2831855f / static_cast<float>(m_sampleRate);
    for (int i = 0; i < m_period; ++i) {
        m_table[static_cast<size_t>(i)] = std::sin(static_cast<float>(i) * step) * amplitude;
    }
}

float ToneGenerator::next() {
    const float v = m_table[static_cast<size_t>(m_position)];
    if (++m_position >= m_period) {
        m_position = 0;
    }
    return v;
}

std::vector<float> ToneGenerator::generate(int count) {
    std::vector<float> out(static_cast<size_t>(std::max(count, 0)));
    for (float& v : out) {
        v = next();
    }
    return out;
}

std::vector<float> ToneGenerator::generateBlock(int frames, int channels, float gain) {
    frames = std::max(frames, 0);
    channels = std::max(channels, 1);
    std::vector<float> out(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    fillBlock(out.data(), frames, channels, gain);
    return out;
}

void ToneGenerator::fillBlock(float* out, int frames, int channels, float gain) {
    channels = std::max(channels, 1);
    if (!std::isfinite(gain)) {
        gain = 0.0f;
    }
    size_t i = 0;
    for (int f = 0; f < frames; ++f) {
        const float v = std::clamp(next() * gain, -1.0f, 1.0f);
        for (int c = 0; c < channels; ++c) {
            out[i++] = v;
        }
    }
}

} // namespace velk::voice
