#include "voice/SoftClip.h"

#include <array>
#include <cmath>

namespace velk::voice {

namespace {

constexpr float kRange = 8.0f; // tanh(8) is 1 to within 3e-7
constexpr int kSteps = 4096;
constexpr float kScale = kSteps / kRange;

struct TanhTable {
    std::array<float, kSteps + 2> values{};
    TanhTable() {
        for (int i = 0; i <= kSteps + 1; ++i) {
            values[static_cast<size_t>(i)] = static_cast<float>(std::tanh(static_cast<double>(i) / kScale));
        }
    }
};

const TanhTable& table() {
    static const TanhTable t;
    return t;
}

inline float lookup(const std::array<float, kSteps + 2>& v, float x) {
    // Beyond the table tanh is 1 to within 3e-7; NaN fails the test and takes that end too.
    float pos = std::fabs(x) * kScale;
    pos = pos < static_cast<float>(kSteps) ? pos : static_cast<float>(kSteps);
    const int i = static_cast<int>(pos);
    const float frac = pos - static_cast<float>(i);
    const float y =
        v[static_cast<size_t>(i)] + (v[static_cast<size_t>(i) + 1] - v[static_cast<size_t>(i)]) * frac;
    return std::copysign(y, x);
}

} // namespace

float softClip(float x) {
    return lookup(table().values, x);
}

void softClipBlock(float* samples, size_t count) {
    const auto& v = table().values;
    for (size_t i = 0; i < count; ++i) {
        samples[i] = lookup(v, samples[i]);
    }
}

} // namespace velk::voice
