#pragma once

#include "simulator/msfs/MsfsRuntimeProfile.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include <cstdint>

// The simulator variables the MSFS back end reads and writes, with their
// names per simulator generation and the conversions between SimConnect's
// units and the application's.
namespace velk::simulator::msfs {

// Id of a catalogue variable.
enum class SimKey : std::uint16_t {
    Latitude = 0,
    Longitude = 1,
    AltitudeMsl = 2,
    AltitudeAgl = 3,
    PressureAltitude = 4,
    GroundSpeed = 5,
    Pitch = 6,
    Heading = 7,
    Bank = 8,
    VelocityBodyX = 9,
    VelocityBodyY = 10,
    VelocityBodyZ = 11,
    RotationVelocityBodyX = 12,
    RotationVelocityBodyY = 13,
    RotationVelocityBodyZ = 14,
    NoseWheelAngle = 15,
    OnGround = 16,
    GearDown = 17,
    GearHandlePosition = 18,
    FlapsRatio = 19,
    FlapsHandlePercent = 20,
    SpeedbrakeRatio = 21,
    SpeedbrakeArmed = 22,
    EngineCount = 23,
    Engine1Running = 24,
    Engine2Running = 25,
    Engine3Running = 26,
    Engine4Running = 27,
    Engine1Reversing = 28,
    Engine2Reversing = 29,
    Engine3Reversing = 30,
    Engine4Reversing = 31,
    StrobeLights = 32,
    LandingLights = 33,
    TaxiLights = 34,
    BeaconLights = 35,
    NavLights = 36,
    AvionicsPower = 37,
    Com1Frequency = 38,
    Com1StandbyFrequency = 39,
    Com1Transmit = 40,
    Com1Receive = 41,
    Com1Volume = 42,
    Com2Frequency = 43,
    Com2StandbyFrequency = 44,
    Com2Transmit = 45,
    Com2Receive = 46,
    Com2Volume = 47,
    TransponderCode = 48,
    TransponderState = 49,
    TransponderIdent = 50,
    AtcId = 51,
    AtcModel = 52,
    Qnh = 53,
    SeaLevelPressure = 54,
    AmbientTemperature = 55,
    WindDirection = 56,
    WindVelocity = 57,
    SimPaused = 58,
};

// Data group; its value is also its SimConnect definition and request id.
enum class UpdateGroup : std::uint8_t {
    CoreFlight = 0,
    SystemState = 1,
    AvionicsComms = 2,
    Environment = 3,
};

enum SimValueKind : std::uint32_t {
    SimValueDouble = 0,
    SimValueInt = 1,
    SimValueBool = 2,
    SimValueString = 3,
};

enum SimConversion : std::uint8_t {
    ConvertNone = 0,
    ConvertFrequencyBcd16 = 1,
    ConvertSquawkBco16 = 2,
    ConvertPercentBool = 3,
    ConvertRadiansDegrees = 4,
    ConvertAxisPosition = 5,
    ConvertUnitRatio = 6,
};

// One catalogue row resolved for one simulator generation.
struct SimVarBinding {
    SimKey key = SimKey::Latitude;
    QString simVar;
    QString unit;
    std::uint32_t valueKind = SimValueDouble;
    UpdateGroup group = UpdateGroup::CoreFlight;
    QVariant defaultValue;
    QString keyName; // key of the value in dataReceived maps
    std::uint8_t conversion = ConvertNone;
};

// Every readable row, in catalogue order.
QList<SimVarBinding> readableDefinitions(MsfsRuntimeProfile profile);
// First row with the key, readable or not; an empty simVar when there is none.
SimVarBinding findDefinition(MsfsRuntimeProfile profile, SimKey key);
// Event name of a command key (0 ident, 1 COM1 Hz, 2 COM2 Hz); empty when unknown.
QString findEventDefinition(MsfsRuntimeProfile profile, std::uint16_t commandKey);

// Application units -> SimConnect units.
QVariant toSimValue(const SimVarBinding& binding, const QVariant& value);
// SimConnect units -> application units.
QVariant fromSimValue(const SimVarBinding& binding, const QVariant& rawValue);

} // namespace velk::simulator::msfs

Q_DECLARE_METATYPE(velk::simulator::msfs::UpdateGroup)
Q_DECLARE_METATYPE(velk::simulator::msfs::SimKey)
