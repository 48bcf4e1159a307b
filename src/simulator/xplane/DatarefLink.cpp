#include "simulator/xplane/DatarefLink.h"

#include <algorithm>
#include <cmath>

namespace velk::simulator::xplane {

namespace {

constexpr std::array<DatarefSubscription, kDatarefCount> kSubscriptions{{
    {1, "sim/cockpit2/switches/avionics_power_on"},
    {2, "sim/cockpit2/radios/actuators/audio_com_selection"},
    {2, "sim/cockpit2/radios/actuators/audio_selection_com1"},
    {2, "sim/cockpit2/radios/actuators/audio_selection_com2"},
    {2, "sim/cockpit2/radios/actuators/com1_frequency_hz_833"},
    {1, "sim/cockpit2/radios/actuators/com1_standby_frequency_hz_833"},
    {2, "sim/cockpit2/radios/actuators/com2_frequency_hz_833"},
    {1, "sim/cockpit2/radios/actuators/com2_standby_frequency_hz_833"},
    {1, "sim/cockpit2/radios/actuators/audio_volume_com1"},
    {1, "sim/cockpit2/radios/actuators/audio_volume_com2"},
    {1, "sim/cockpit/radios/transponder_mode"},
    {1, "sim/cockpit/radios/transponder_id"},
    {1, "sim/cockpit/radios/transponder_code"},
    {1, "sim/cockpit2/switches/beacon_on"},
    {1, "sim/cockpit2/switches/landing_lights_on"},
    {1, "sim/cockpit2/switches/taxi_light_on"},
    {1, "sim/cockpit2/switches/navigation_lights_on"},
    {1, "sim/cockpit2/switches/strobe_lights_on"},
    {5, "sim/flightmodel/position/latitude"},
    {5, "sim/flightmodel/position/longitude"},
    {5, "sim/flightmodel/position/elevation"},
    {5, "sim/flightmodel/position/y_agl"},
    {5, "sim/flightmodel2/position/pressure_altitude"},
    {1, "sim/weather/barometer_sealevel_inhg"},
    {1, "sim/weather/aircraft/altimeter_temperature_error"},
    {5, "sim/flightmodel/position/groundspeed"},
    {5, "sim/flightmodel/position/theta"},
    {5, "sim/flightmodel/position/psi"},
    {5, "sim/flightmodel/position/phi"},
    {5, "sim/flightmodel/position/local_vz"},
    {5, "sim/flightmodel/position/local_vy"},
    {5, "sim/flightmodel/position/local_vx"},
    {5, "sim/flightmodel/position/Qrad"},
    {5, "sim/flightmodel/position/Rrad"},
    {5, "sim/flightmodel/position/Prad"},
    {1, "sim/aircraft/engine/acf_num_engines"},
    {1, "sim/flightmodel/engine/ENGN_running[0]"},
    {1, "sim/flightmodel/engine/ENGN_running[1]"},
    {1, "sim/flightmodel/engine/ENGN_running[2]"},
    {1, "sim/flightmodel/engine/ENGN_running[3]"},
    {1, "sim/flightmodel/engine/ENGN_propmode[0]"},
    {1, "sim/flightmodel/engine/ENGN_propmode[1]"},
    {1, "sim/flightmodel/engine/ENGN_propmode[2]"},
    {1, "sim/flightmodel/engine/ENGN_propmode[3]"},
    {2, "sim/flightmodel/failures/onground_any"},
    {1, "sim/cockpit/switches/gear_handle_status"},
    {5, "sim/flightmodel/controls/flaprat"},
    {5, "sim/cockpit2/controls/speedbrake_ratio"},
    {5, "sim/cockpit2/annunciators/speedbrake_armed"},
    {15, "sim/flightmodel2/gear/tire_steer_actual_deg[0]"},
    {1, "sim/operation/prefs/replay_mode"},
    {1, "sim/time/paused"},
    {1, "sim/version/xplane_internal_version"},
}};

constexpr double kInHgToHpa = 33.8639;
constexpr double kMpsToKnots = 1.94384;

template <typename T> void setTruncated(T& field, float value) {
    if (const auto v = integerFrom<T>(value)) {
        field = *v;
    }
}

void setVolume(qint32& field, float value) {
    if (std::isnan(value)) {
        return;
    }
    const double percent = std::round(static_cast<double>(value) * 100.0); // half away from zero
    field = static_cast<qint32>(std::clamp(percent, 0.0, 100.0));
}

QByteArray padded(QByteArrayView head, QByteArrayView path, qsizetype pathField) {
    QByteArray out(head.size() + pathField, '\0');
    std::memcpy(out.data(), head.data(), static_cast<size_t>(head.size()));
    // Keep at least one terminating zero.
    const qsizetype n = std::min(path.size(), pathField - 1);
    std::memcpy(out.data() + head.size(), path.data(), static_cast<size_t>(n));
    return out;
}

} // namespace

const std::array<DatarefSubscription, kDatarefCount>& datarefSubscriptions() {
    return kSubscriptions;
}

QByteArray buildRrefRequest(QByteArrayView path, qint32 index, qint32 rate) {
    char head[13] = {'R', 'R', 'E', 'F', 0};
    qToLittleEndian<qint32>(rate, head + 5);
    qToLittleEndian<qint32>(index, head + 9);
    return padded(QByteArrayView(head, sizeof head), path, 400);
}

QByteArray buildDrefPacket(QByteArrayView path, float value) {
    char head[9] = {'D', 'R', 'E', 'F', 0};
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint32>(bits, head + 5);
    return padded(QByteArrayView(head, sizeof head), path, 500);
}

QByteArray buildCmndPacket(QByteArrayView path) {
    QByteArray out;
    out.reserve(path.size() + 6);
    out.append("CMND", 4);
    out.append('\0');
    out.append(path.data(), path.size());
    out.append('\0');
    return out;
}

bool applyDatarefValue(qint32 index, float value, model::UserAircraftData& data,
                       model::UserAircraftConfigData& config, model::RadioStackState& radio) {
    const bool flag = value != 0.0f; // NaN counts as set
    const double v = static_cast<double>(value);
    // A number that is not finite would reach position reports as garbage, and
    // a NaN never equals itself, so the record would count as changed on every
    // publish: the field keeps its last value.
    auto setNumber = [finite = std::isfinite(value)](double& field, double converted) {
        if (finite) {
            field = converted;
        }
    };
    switch (index) {
    case 0:
        radio.avionicsPowerOn = flag;
        break;
    case 1:
        if (value == 6.0f) {
            radio.com1TransmitEnabled = true;
            radio.com2TransmitEnabled = false;
        } else if (value == 7.0f) {
            radio.com1TransmitEnabled = false;
            radio.com2TransmitEnabled = true;
        }
        break;
    case 2:
        radio.com1ReceiveEnabled = flag;
        break;
    case 3:
        radio.com2ReceiveEnabled = flag;
        break;
    case 4:
        setTruncated(radio.com1Frequency, value);
        break;
    case 5:
        setTruncated(radio.com1StandbyFrequency, value);
        break;
    case 6:
        setTruncated(radio.com2Frequency, value);
        break;
    case 7:
        setTruncated(radio.com2StandbyFrequency, value);
        break;
    case 8:
        setVolume(radio.com1Volume, value);
        break;
    case 9:
        setVolume(radio.com2Volume, value);
        break;
    case 10:
        radio.squawkingModeC = value >= 3.0f;
        break;
    case 11:
        radio.squawkingIdent = flag;
        break;
    case 12:
        setTruncated(radio.transponderCode, value);
        break;
    case 13:
        config.beaconOn = flag;
        break;
    case 14:
        config.landingLightsOn = flag;
        break;
    case 15:
        config.taxiLightsOn = flag;
        break;
    case 16:
        config.navLightsOn = flag;
        break;
    case 17:
        config.strobesOn = flag;
        break;
    case 18:
        setNumber(data.latitude, v);
        break;
    case 19:
        setNumber(data.longitude, v);
        break;
    case 20:
        setNumber(data.altitudeMslM, v);
        break;
    case 21:
        setNumber(data.altitudeAglM, v);
        break;
    case 22:
        setNumber(data.altitudePressure, v);
        break;
    case 23:
        setNumber(data.qnh, v * kInHgToHpa);
        break;
    case 24:
        setNumber(data.temperatureError, v);
        break;
    case 25:
        setNumber(data.groundSpeed, v * kMpsToKnots);
        break;
    case 26:
        setNumber(data.pitch, v);
        break;
    case 27:
        setNumber(data.heading, v);
        break;
    case 28:
        setNumber(data.bank, v);
        break;
    case 29:
        setNumber(data.latitudeVelocity, -v);
        break;
    case 30:
        setNumber(data.altitudeVelocity, v);
        break;
    case 31:
        setNumber(data.longitudeVelocity, v);
        break;
    case 32:
        setNumber(data.pitchVelocity, -v);
        break;
    case 33:
        setNumber(data.headingVelocity, v);
        break;
    case 34:
        setNumber(data.bankVelocity, -v);
        break;
    case 35:
        setTruncated(config.engineCount, value);
        break;
    case 36:
        config.engine1Running = flag;
        break;
    case 37:
        config.engine2Running = flag;
        break;
    case 38:
        config.engine3Running = flag;
        break;
    case 39:
        config.engine4Running = flag;
        break;
    case 40:
        config.engine1Reversing = value == 3.0f;
        break;
    case 41:
        config.engine2Reversing = value == 3.0f;
        break;
    case 42:
        config.engine3Reversing = value == 3.0f;
        break;
    case 43:
        config.engine4Reversing = value == 3.0f;
        break;
    case 44:
        config.onGround = flag;
        break;
    case 45:
        config.gearDown = flag;
        break;
    case 46:
        setNumber(config.flapsRatio, v);
        break;
    case 47:
        setNumber(config.speedbrakeRatio, v);
        break;
    case 48:
        config.speedbrakeArmed = value > 0.5f;
        break;
    case 49:
        setNumber(data.noseWheelAngle, v);
        break;
    default:
        return false;
    }
    return true;
}

} // namespace velk::simulator::xplane
