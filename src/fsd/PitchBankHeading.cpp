#include "fsd/PitchBankHeading.h"

#include <cmath>

namespace velk::fsd {

namespace {

// An angle in whole units, rounded down and wrapped into 0..1023. A value
// that is not finite is sent as 0 rather than as an undefined conversion.
quint32 toUnits(double degrees) {
    if (!std::isfinite(degrees)) {
        return 0;
    }
    const double units = std::floor(std::fmod(degrees, 360.0) / PitchBankHeading::kDegreesPerUnit);
    auto wrapped = static_cast<int>(units) % 1024;
    if (wrapped < 0) {
        wrapped += 1024;
    }
    return static_cast<quint32>(wrapped);
}

double signedDegrees(quint32 units) {
    const double degrees = units * PitchBankHeading::kDegreesPerUnit;
    return degrees > 180.0 ? degrees - 360.0 : degrees;
}

} // namespace

quint32 PitchBankHeading::pack() const {
    return toUnits(-pitch) << 22 | toUnits(-bank) << 12 | toUnits(heading) << 2 | (onGround ? 1u : 0u) << 1;
}

PitchBankHeading PitchBankHeading::unpack(quint32 word) {
    PitchBankHeading result;
    // Negating 0 would give -0.0; keep a plain zero.
    const double pitch = signedDegrees((word >> 22) & 0x3ff);
    const double bank = signedDegrees((word >> 12) & 0x3ff);
    result.pitch = pitch == 0.0 ? 0.0 : -pitch;
    result.bank = bank == 0.0 ? 0.0 : -bank;
    result.heading = ((word >> 2) & 0x3ff) * kDegreesPerUnit;
    result.onGround = (word >> 1) & 1u;
    return result;
}

} // namespace velk::fsd
