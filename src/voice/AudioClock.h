#pragma once

#include <chrono>
#include <functional>

namespace velk::voice {

// Monotonic time for the playback rules (backlog drain, idle talkers); tests
// hand in their own.
using AudioClock = std::function<std::chrono::nanoseconds()>;

inline AudioClock steadyAudioClock() {
    return [] { return std::chrono::steady_clock::now().time_since_epoch(); };
}

} // namespace velk::voice
