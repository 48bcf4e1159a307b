#pragma once

#include <algorithm>
#include <cmath>

namespace velk::voice {

// Bounds that keep settings and caller values out of the sample maths: an
// unchecked gain of 800 dB or a NaN volume turns a block into noise or
// undefined conversions.
inline constexpr double kMinMicGainDb = -60.0;
inline constexpr double kMaxMicGainDb = 40.0;

// Within the bounds, fractions kept (the settings move in 0.5 dB steps); not a
// number gives 0 dB.
inline double clampGainDb(double db) {
    return std::isnan(db) ? 0.0 : std::clamp(db, kMinMicGainDb, kMaxMicGainDb);
}

// A volume within 0..1; not a number is silent.
inline float clampVolume(double volume) {
    return std::isnan(volume) ? 0.0f : static_cast<float>(std::clamp(volume, 0.0, 1.0));
}

// A radio's playback volume may raise the speech up to twice its level (the
// pilot's volume slider goes to 200 %); not a number is silent.
inline constexpr double kMaxRadioVolume = 2.0;
inline float clampRadioVolume(double volume) {
    return std::isnan(volume) ? 0.0f : static_cast<float>(std::clamp(volume, 0.0, kMaxRadioVolume));
}

// A tone frequency from a setting, within what a float holds; the tone itself
// silences what is not a number or not positive and raises what is very low.
inline float toneFrequency(double hz) {
    return std::isnan(hz) ? 0.0f : static_cast<float>(std::clamp(hz, -1.0, 1.0e6));
}

// The tones' level, and the pitch of the tone that warns of two speakers at once.
inline constexpr float kToneAmplitude = 0.3f;
inline constexpr float kConflictToneFrequency = 293.66f;

} // namespace velk::voice
