#pragma once

#include <QMetaType>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace velk::voice {

// An audio level: dB relative to full scale (-96 stands for silence) and the
// same level as 0..100 for the level meters.
struct VolumeInfo {
    float levelDb = -96.0f;
    qint32 percent = 0;

    // Level of a block whose samples (scaled to -1..1) have this root mean square.
    static VolumeInfo fromRms(double rms) {
        float db = rms > 0.0 ? static_cast<float>(20.0 * std::log10(rms)) : -96.0f;
        db = std::clamp(db, -96.0f, 0.0f);
        return {db, static_cast<qint32>((db + 96.0f) / 96.0f * 100.0f)};
    }

    bool operator==(const VolumeInfo&) const = default;
};

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::VolumeInfo)
