#pragma once

#include <algorithm>
#include <cmath>

namespace velk::voice {

// Bounds that keep settings and caller values out of the sample maths: an
// unchecked gain of 800 dB or a NaN volume turns a block into noise or
// undefined conversions.
inline constexpr int kMinMicGainDb = -60;
inline constexpr int kMaxMicGainDb = 40;

// Whole dB within the bounds; not a number gives 0 dB.
inline int clampGainDb(double db) {
    if (!std::isfinite(db)) {
        return std::isnan(db) ? 0 : (db > 0 ? kMaxMicGainDb : kMinMicGainDb);
    }
    return static_cast<int>(std::clamp(db, double(kMinMicGainDb), double(kMaxMicGainDb)));
}

// A volume within 0..1; not a number is silent.
inline float clampVolume(double volume) {
    return std::isnan(volume) ? 0.0f : static_cast<float>(std::clamp(volume, 0.0, 1.0));
}

// A tone frequency from a setting, within what a float holds; the tone itself
// silences what is not a number or not positive and raises what is very low.
inline float toneFrequency(double hz) {
    return std::isnan(hz) ? 0.0f : static_cast<float>(std::clamp(hz, -1.0, 1.0e6));
}

} // namespace velk::voice
