#include "simulator/msfs/SimVarCatalogue.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velk::simulator::msfs {

namespace {

struct CatalogueRow {
    SimKey key;
    const char* simVar2020;
    const char* unit2020;
    const char* simVar2024; // empty: same as 2020
    const char* unit2024;
    std::uint32_t valueKind;
    UpdateGroup group;
    const char* keyName;
    std::uint8_t conversion;
    bool readable;
};

constexpr auto Core = UpdateGroup::CoreFlight;
constexpr auto System = UpdateGroup::SystemState;
constexpr auto Avionics = UpdateGroup::AvionicsComms;
constexpr auto Env = UpdateGroup::Environment;

// Within a group the rows' order is the order of the values in received data.
const CatalogueRow kRows[] = {
    {SimKey::Latitude, "PLANE LATITUDE", "degrees", "", "", SimValueDouble, Core, "latitude", ConvertNone,
     true},
    {SimKey::Longitude, "PLANE LONGITUDE", "degrees", "", "", SimValueDouble, Core, "longitude", ConvertNone,
     true},
    {SimKey::AltitudeMsl, "PLANE ALTITUDE", "meters", "", "", SimValueDouble, Core, "altitudeMslM",
     ConvertNone, true},
    {SimKey::AltitudeAgl, "PLANE ALT ABOVE GROUND", "meters", "PLANE ALT ABOVE GROUND MINUS CG", "meters",
     SimValueDouble, Core, "altitudeAglM", ConvertNone, true},
    {SimKey::PressureAltitude, "PRESSURE ALTITUDE", "feet", "", "", SimValueDouble, Core, "altitudePressure",
     ConvertNone, true},
    {SimKey::GroundSpeed, "GROUND VELOCITY", "knots", "", "", SimValueDouble, Core, "groundSpeed",
     ConvertNone, true},
    {SimKey::Pitch, "PLANE PITCH DEGREES", "radians", "", "", SimValueDouble, Core, "pitch",
     ConvertRadiansDegrees, true},
    {SimKey::Heading, "PLANE HEADING DEGREES TRUE", "radians", "", "", SimValueDouble, Core, "heading",
     ConvertRadiansDegrees, true},
    {SimKey::Bank, "PLANE BANK DEGREES", "radians", "", "", SimValueDouble, Core, "bank",
     ConvertRadiansDegrees, true},
    {SimKey::VelocityBodyX, "VELOCITY BODY X", "meters per second", "", "", SimValueDouble, Core,
     "latitudeVelocity", ConvertNone, true},
    {SimKey::VelocityBodyY, "VELOCITY BODY Y", "meters per second", "", "", SimValueDouble, Core,
     "altitudeVelocity", ConvertNone, true},
    {SimKey::VelocityBodyZ, "VELOCITY BODY Z", "meters per second", "", "", SimValueDouble, Core,
     "longitudeVelocity", ConvertNone, true},
    {SimKey::RotationVelocityBodyX, "ROTATION VELOCITY BODY X", "radians per second", "", "", SimValueDouble,
     Core, "pitchVelocity", ConvertNone, true},
    {SimKey::RotationVelocityBodyY, "ROTATION VELOCITY BODY Y", "radians per second", "", "", SimValueDouble,
     Core, "headingVelocity", ConvertNone, true},
    {SimKey::RotationVelocityBodyZ, "ROTATION VELOCITY BODY Z", "radians per second", "", "", SimValueDouble,
     Core, "bankVelocity", ConvertNone, true},
    {SimKey::NoseWheelAngle, "GEAR STEER ANGLE:0", "degrees", "", "", SimValueDouble, Core, "noseWheelAngle",
     ConvertNone, true},
    {SimKey::OnGround, "SIM ON GROUND", "bool", "", "", SimValueBool, System, "onGround", ConvertNone, true},
    {SimKey::GearDown, "GEAR TOTAL PCT EXTENDED", "percent", "", "", SimValueDouble, System, "gearDown",
     ConvertPercentBool, true},
    // Written to AI objects only.
    {SimKey::GearHandlePosition, "GEAR HANDLE POSITION", "bool", "", "", SimValueBool, System,
     "gearHandlePosition", ConvertNone, false},
    {SimKey::FlapsRatio, "TRAILING EDGE FLAPS LEFT PERCENT", "percent over 100", "", "", SimValueDouble,
     System, "flapsRatio", ConvertUnitRatio, true},
    {SimKey::FlapsHandlePercent, "FLAPS HANDLE PERCENT", "percent over 100", "", "", SimValueDouble, System,
     "flapsHandlePercent", ConvertUnitRatio, false},
    {SimKey::SpeedbrakeRatio, "SPOILERS HANDLE POSITION", "position", "", "", SimValueDouble, System,
     "speedbrakeRatio", ConvertAxisPosition, true},
    {SimKey::SpeedbrakeArmed, "SPOILERS ARMED", "bool", "", "", SimValueBool, System, "speedbrakeArmed",
     ConvertNone, true},
    {SimKey::EngineCount, "NUMBER OF ENGINES", "number", "", "", SimValueInt, System, "engineCount",
     ConvertNone, true},
    {SimKey::Engine1Running, "GENERAL ENG COMBUSTION:1", "bool", "", "", SimValueBool, System,
     "engine1Running", ConvertNone, true},
    {SimKey::Engine2Running, "GENERAL ENG COMBUSTION:2", "bool", "", "", SimValueBool, System,
     "engine2Running", ConvertNone, true},
    {SimKey::Engine3Running, "GENERAL ENG COMBUSTION:3", "bool", "", "", SimValueBool, System,
     "engine3Running", ConvertNone, true},
    {SimKey::Engine4Running, "GENERAL ENG COMBUSTION:4", "bool", "", "", SimValueBool, System,
     "engine4Running", ConvertNone, true},
    {SimKey::Engine1Reversing, "TURB ENG REVERSE NOZZLE PERCENT:1", "percent", "", "", SimValueDouble, System,
     "engine1Reversing", ConvertPercentBool, true},
    {SimKey::Engine2Reversing, "TURB ENG REVERSE NOZZLE PERCENT:2", "percent", "", "", SimValueDouble, System,
     "engine2Reversing", ConvertPercentBool, true},
    {SimKey::Engine3Reversing, "TURB ENG REVERSE NOZZLE PERCENT:3", "percent", "", "", SimValueDouble, System,
     "engine3Reversing", ConvertPercentBool, true},
    {SimKey::Engine4Reversing, "TURB ENG REVERSE NOZZLE PERCENT:4", "percent", "", "", SimValueDouble, System,
     "engine4Reversing", ConvertPercentBool, true},
    {SimKey::StrobeLights, "LIGHT STROBE", "bool", "", "", SimValueBool, System, "strobesOn", ConvertNone,
     true},
    {SimKey::LandingLights, "LIGHT LANDING", "bool", "", "", SimValueBool, System, "landingLightsOn",
     ConvertNone, true},
    {SimKey::TaxiLights, "LIGHT TAXI", "bool", "", "", SimValueBool, System, "taxiLightsOn", ConvertNone,
     true},
    {SimKey::BeaconLights, "LIGHT BEACON", "bool", "", "", SimValueBool, System, "beaconOn", ConvertNone,
     true},
    {SimKey::NavLights, "LIGHT NAV", "bool", "", "", SimValueBool, System, "navLightsOn", ConvertNone, true},
    {SimKey::AvionicsPower, "AVIONICS MASTER SWITCH", "bool", "", "", SimValueBool, Avionics,
     "avionicsPowerOn", ConvertNone, true},
    {SimKey::Com1Frequency, "COM ACTIVE FREQUENCY:1", "Frequency BCD16", "", "", SimValueInt, Avionics,
     "com1Frequency", ConvertFrequencyBcd16, true},
    {SimKey::Com1StandbyFrequency, "COM STANDBY FREQUENCY:1", "Frequency BCD16", "", "", SimValueInt,
     Avionics, "com1StandbyFrequency", ConvertFrequencyBcd16, true},
    {SimKey::Com1Transmit, "COM TRANSMIT:1", "bool", "", "", SimValueBool, Avionics, "com1TransmitEnabled",
     ConvertNone, true},
    {SimKey::Com1Receive, "COM RECEIVE:1", "bool", "", "", SimValueBool, Avionics, "com1ReceiveEnabled",
     ConvertNone, true},
    {SimKey::Com1Volume, "COM VOLUME:1", "percent", "", "", SimValueDouble, Avionics, "com1Volume",
     ConvertNone, true},
    {SimKey::Com2Frequency, "COM ACTIVE FREQUENCY:2", "Frequency BCD16", "", "", SimValueInt, Avionics,
     "com2Frequency", ConvertFrequencyBcd16, true},
    {SimKey::Com2StandbyFrequency, "COM STANDBY FREQUENCY:2", "Frequency BCD16", "", "", SimValueInt,
     Avionics, "com2StandbyFrequency", ConvertFrequencyBcd16, true},
    {SimKey::Com2Transmit, "COM TRANSMIT:2", "bool", "", "", SimValueBool, Avionics, "com2TransmitEnabled",
     ConvertNone, true},
    {SimKey::Com2Receive, "COM RECEIVE:2", "bool", "", "", SimValueBool, Avionics, "com2ReceiveEnabled",
     ConvertNone, true},
    {SimKey::Com2Volume, "COM VOLUME:2", "percent", "", "", SimValueDouble, Avionics, "com2Volume",
     ConvertNone, true},
    {SimKey::TransponderCode, "TRANSPONDER CODE:1", "BCO16", "", "", SimValueInt, Avionics, "transponderCode",
     ConvertSquawkBco16, true},
    {SimKey::TransponderState, "TRANSPONDER STATE:1", "enum", "", "", SimValueInt, Avionics,
     "transponderState", ConvertNone, true},
    {SimKey::TransponderIdent, "TRANSPONDER IDENT:1", "bool", "", "", SimValueBool, Avionics,
     "squawkingIdent", ConvertNone, true},
    {SimKey::AtcId, "ATC ID", "", "", "", SimValueString, Env, "atcId", ConvertNone, true},
    {SimKey::AtcModel, "ATC MODEL", "", "", "", SimValueString, Env, "atcModel", ConvertNone, true},
    {SimKey::Qnh, "KOHLSMAN SETTING MB:1", "millibars", "", "", SimValueDouble, Env, "qnh", ConvertNone,
     true},
    {SimKey::SeaLevelPressure, "SEA LEVEL PRESSURE", "millibars", "", "", SimValueDouble, Env,
     "seaLevelPressure", ConvertNone, true},
    {SimKey::AmbientTemperature, "AMBIENT TEMPERATURE", "celsius", "", "", SimValueDouble, Env,
     "ambientTemperature", ConvertNone, true},
    {SimKey::WindDirection, "AMBIENT WIND DIRECTION", "degrees", "", "", SimValueDouble, Env, "windDirection",
     ConvertNone, true},
    {SimKey::WindVelocity, "AMBIENT WIND VELOCITY", "knots", "", "", SimValueDouble, Env, "windVelocity",
     ConvertNone, true},
    {SimKey::SimPaused, "SIM DISABLED", "bool", "", "", SimValueBool, Env, "simPaused", ConvertNone, true},
};

struct EventRow {
    std::uint16_t key;
    const char* name2020;
    const char* name2024;
};

const EventRow kEvents[] = {
    {0, "XPNDR_IDENT_ON", ""},
    {1, "COM_RADIO_SET_HZ", ""},
    {2, "COM2_RADIO_SET_HZ", ""},
};

QVariant defaultFor(std::uint32_t kind) {
    switch (kind) {
    case SimValueInt:
        return 0;
    case SimValueBool:
        return false;
    case SimValueString:
        return QString();
    default:
        return 0.0;
    }
}

SimVarBinding resolve(const CatalogueRow& row, MsfsRuntimeProfile profile) {
    SimVarBinding binding;
    binding.key = row.key;
    const bool use2024 = profile == MsfsRuntimeProfile::Msfs2024 && row.simVar2024[0] != '\0';
    binding.simVar = QString::fromLatin1(use2024 ? row.simVar2024 : row.simVar2020);
    binding.unit = QString::fromLatin1(use2024 ? row.unit2024 : row.unit2020);
    binding.valueKind = row.valueKind;
    binding.group = row.group;
    binding.defaultValue = defaultFor(row.valueKind);
    binding.keyName = QString::fromLatin1(row.keyName);
    binding.conversion = row.conversion;
    return binding;
}

} // namespace

QList<SimVarBinding> readableDefinitions(MsfsRuntimeProfile profile) {
    QList<SimVarBinding> result;
    for (const CatalogueRow& row : kRows) {
        if (row.readable)
            result.append(resolve(row, profile));
    }
    return result;
}

SimVarBinding findDefinition(MsfsRuntimeProfile profile, SimKey key) {
    for (const CatalogueRow& row : kRows) {
        if (row.key == key)
            return resolve(row, profile);
    }
    return SimVarBinding{SimKey::Latitude,        {},         {}, SimValueDouble,
                         UpdateGroup::CoreFlight, QVariant(), {}, 0};
}

QString findEventDefinition(MsfsRuntimeProfile profile, std::uint16_t commandKey) {
    for (const EventRow& row : kEvents) {
        if (row.key != commandKey)
            continue;
        const bool use2024 = profile == MsfsRuntimeProfile::Msfs2024 && row.name2024[0] != '\0';
        return QString::fromLatin1(use2024 ? row.name2024 : row.name2020);
    }
    return {};
}

namespace {

constexpr double kAxisRange = 16383.0;

double clampUnit(double value) {
    if (!(value >= 0.0)) // also NaN
        return 0.0;
    return std::min(value, 1.0);
}

// Integral part of a finite double, bounded so that it always fits.
qint64 boundedInteger(double value, qint64 limit) {
    if (!std::isfinite(value))
        return 0;
    return static_cast<qint64>(std::clamp(value, -static_cast<double>(limit), static_cast<double>(limit)));
}

} // namespace

QVariant toSimValue(const SimVarBinding& binding, const QVariant& value) {
    switch (binding.conversion) {
    case ConvertFrequencyBcd16: {
        // Nearest kHz; the leading "1" of 1xx.xx MHz is implied.
        const qint64 khz = std::llabs(boundedInteger(std::round(value.toDouble() * 1000.0), 10'000'000));
        const int bcd = static_cast<int>(((khz / 10000) % 10) << 12 | ((khz / 1000) % 10) << 8 |
                                         ((khz / 100) % 10) << 4 | ((khz / 10) % 10));
        return bcd;
    }
    case ConvertSquawkBco16: {
        // Remainder first: the absolute value of the smallest integer overflows.
        qint64 code = value.toLongLong() % 10000;
        if (code < 0)
            code = -code;
        int bco = 0;
        for (int shift = 0; shift < 16; shift += 4) {
            bco |= static_cast<int>(code % 10) << shift;
            code /= 10;
        }
        return bco;
    }
    case ConvertPercentBool:
        return value.toBool() ? 100.0 : 0.0;
    case ConvertRadiansDegrees:
        return qDegreesToRadians(value.toDouble());
    case ConvertAxisPosition:
        return clampUnit(value.toDouble()) * kAxisRange;
    case ConvertUnitRatio:
        return clampUnit(value.toDouble());
    default:
        return value;
    }
}

QVariant fromSimValue(const SimVarBinding& binding, const QVariant& rawValue) {
    switch (binding.conversion) {
    case ConvertFrequencyBcd16: {
        const quint32 bcd = static_cast<quint32>(rawValue.toLongLong()) & 0xFFFF;
        const int tens = (bcd >> 12) & 0xF;
        const int ones = (bcd >> 8) & 0xF;
        const int tenths = (bcd >> 4) & 0xF;
        const int hundredths = bcd & 0xF;
        // Whole kHz first, so that 0x2345 gives exactly 123.45.
        const int tenKhz = 10000 + tens * 1000 + ones * 100 + tenths * 10 + hundredths;
        return tenKhz / 100.0;
    }
    case ConvertSquawkBco16: {
        const quint32 bco = static_cast<quint32>(rawValue.toLongLong()) & 0xFFFF;
        int code = 0;
        for (int shift = 12; shift >= 0; shift -= 4)
            code = code * 10 + static_cast<int>((bco >> shift) & 0xF);
        return code;
    }
    case ConvertPercentBool:
        return rawValue.toDouble() > 0.01;
    case ConvertRadiansDegrees:
        return qRadiansToDegrees(rawValue.toDouble());
    case ConvertAxisPosition:
        return clampUnit(rawValue.toDouble() / kAxisRange);
    case ConvertUnitRatio: {
        double value = rawValue.toDouble();
        if (value > 1.0)
            value /= 100.0;
        return clampUnit(value);
    }
    default:
        return rawValue;
    }
}

} // namespace velk::simulator::msfs
