#pragma once

#include <QtGlobal>

namespace velk::fsd {

// The packed pitch-bank-heading-on-ground word of the FSD position packets:
// pitch << 22 | bank << 12 | heading << 2 | onGround << 1, each angle in
// 10 bits of 360/1024 degrees. Pitch and bank travel negated.
struct PitchBankHeading {
    double pitch = 0.0;   // degrees, nose up positive; decoded into -180..180
    double bank = 0.0;    // degrees, right wing down positive; decoded into -180..180
    double heading = 0.0; // degrees; decoded into [0, 360)
    bool onGround = false;

    static constexpr double kDegreesPerUnit = 360.0 / 1024.0;

    quint32 pack() const;
    static PitchBankHeading unpack(quint32 word);
};

} // namespace velk::fsd
