#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace velk::model {

// Snapshot of the user's aircraft as a simulator back end reads it.
struct UserAircraftData {
    double latitude = 0.0;         // degrees
    double longitude = 0.0;        // degrees
    double altitudeMslM = 0.0;     // metres
    double altitudeAglM = 0.0;     // metres
    double altitudePressure = 0.0; // feet
    double qnh = 0.0;              // hPa
    double temperatureError = 0.0; // feet; X-Plane's altimeter temperature error
    double groundSpeed = 0.0;      // knots
    double pitch = 0.0;            // degrees
    double heading = 0.0;          // degrees true
    double bank = 0.0;             // degrees
    double latitudeVelocity = 0.0; // metres per second, body axes
    double altitudeVelocity = 0.0;
    double longitudeVelocity = 0.0;
    double pitchVelocity = 0.0; // radians per second
    double headingVelocity = 0.0;
    double bankVelocity = 0.0;
    double noseWheelAngle = 0.0; // degrees

    bool operator==(const UserAircraftData&) const = default;
};

// The user's aircraft configuration: lights, engines, gear, flaps, spoilers.
struct UserAircraftConfigData {
    bool strobesOn = false;
    bool landingLightsOn = false;
    bool taxiLightsOn = false;
    bool beaconOn = false;
    bool navLightsOn = false;
    qint32 engineCount = 0;
    bool engine1Running = false;
    bool engine2Running = false;
    bool engine3Running = false;
    bool engine4Running = false;
    bool engine1Reversing = false;
    bool engine2Reversing = false;
    bool engine3Reversing = false;
    bool engine4Reversing = false;
    bool gearDown = false;
    double flapsRatio = 0.0;      // 0 to 1
    double speedbrakeRatio = 0.0; // 0 to 1; above 0 means spoilers out
    bool speedbrakeArmed = false;
    bool onGround = false;

    bool operator==(const UserAircraftConfigData&) const = default;
};

// The user's radios and transponder.
struct RadioStackState {
    bool avionicsPowerOn = false;
    quint32 com1Frequency = 0; // kHz, active
    quint32 com1StandbyFrequency = 0;
    bool com1TransmitEnabled = false;
    bool com1ReceiveEnabled = false;
    qint32 com1Volume = 0; // 0 to 100
    quint32 com2Frequency = 0;
    quint32 com2StandbyFrequency = 0;
    bool com2TransmitEnabled = false;
    bool com2ReceiveEnabled = false;
    qint32 com2Volume = 0;
    bool squawkingModeC = false;
    bool squawkingIdent = false;
    quint16 transponderCode = 0; // squawk digits read as a decimal number: 7000
    // Spare flags for back ends that can tell a radio is keyed; X-Plane leaves them false.
    bool com1Sending = false;
    bool com2Sending = false;

    bool operator==(const RadioStackState&) const = default;
};

// Pose of a remote aircraft.
struct AircraftVisualState {
    double latitude = 0.0;      // degrees
    double longitude = 0.0;     // degrees
    double altitudeTrue = 0.0;  // feet
    double altitudeAgl = 0.0;   // feet
    double pitch = 0.0;         // degrees
    double heading = 0.0;       // degrees
    double bank = 0.0;          // degrees
    double noseGearAngle = 0.0; // degrees

    bool operator==(const AircraftVisualState&) const = default;
};

// Positional velocities (m/s; x and z horizontal, y vertical) or rotational
// velocities (pitch, heading and bank rates) of a fast position.
struct VelocityVector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    bool operator==(const VelocityVector&) const = default;
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::UserAircraftData)
Q_DECLARE_METATYPE(velk::model::UserAircraftConfigData)
Q_DECLARE_METATYPE(velk::model::RadioStackState)
Q_DECLARE_METATYPE(velk::model::AircraftVisualState)
Q_DECLARE_METATYPE(velk::model::VelocityVector)
