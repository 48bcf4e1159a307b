#pragma once

#include <cstdint>
#include <vector>

namespace velk::voice {

// An endless sine tone from a one-period table. The table holds a whole
// number of samples, so the tone plays at sampleRate / period.
class ToneGenerator {
public:
    // Lowest tone played; lower settings are raised to it so that the table stays small.
    static constexpr float kMinFrequency = 20.0f;

    ToneGenerator(int sampleRate, float frequency, float amplitude);

    // Each setter rebuilds the table and restarts the wave at position 0.
    void setFrequency(float frequency);
    void setSampleRate(int sampleRate);
    void setAmplitude(float amplitude);
    void configure(int sampleRate, float frequency, float amplitude);
    void rebuild();

    std::vector<float> generate(int count);
    // One block of frames × channels interleaved samples: one tone sample per
    // frame, copied to every channel, scaled by gain and kept within -1..1.
    std::vector<float> generateBlock(int frames, int channels, float gain);
    // The same into out, which holds frames × channels samples; allocates nothing.
    void fillBlock(float* out, int frames, int channels, float gain);

    int sampleRate() const { return m_sampleRate; }
    float frequency() const { return m_frequency; }
    float amplitude() const { return m_amplitude; }
    int period() const { return m_period; }
    int position() const { return m_position; }

private:
    float next();

    int m_sampleRate;
    float m_frequency;
    float m_amplitude;
    int m_period = 1;
    int m_position = 0;
    std::vector<float> m_table;
};

} // namespace velk::voice
