#pragma once

#include <cstddef>

namespace velk::voice {

// tanh of every sample, for the playback mix: a table with linear
// interpolation, within 1e-6 of std::tanh and several times faster, so the
// audio thread spends its time decoding rather than clipping.
float softClip(float x);
void softClipBlock(float* samples, size_t count);

} // namespace velk::voice
