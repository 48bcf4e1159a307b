// X-Plane UDP datagrams: any "RREF" reply written into the user's records
// leaves every value finite.
#include "FuzzSupport.h"
#include "simulator/xplane/DatarefLink.h"

#include <cmath>

namespace xp = velk::simulator::xplane;
namespace model = velk::model;

namespace {

template <typename... T> bool allFinite(T... values) {
    return (std::isfinite(static_cast<double>(values)) && ...);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView datagram(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!xp::isRrefReply(datagram)) {
        return 0;
    }
    model::UserAircraftData d{};
    model::UserAircraftConfigData c{};
    model::RadioStackState r{};
    xp::forEachRrefPair(datagram,
                        [&](qint32 index, float value) { xp::applyDatarefValue(index, value, d, c, r); });
    if (!allFinite(d.latitude, d.longitude, d.altitudeMslM, d.altitudeAglM, d.altitudePressure, d.pitch,
                   d.heading, d.bank, d.latitudeVelocity, d.longitudeVelocity, d.altitudeVelocity,
                   d.pitchVelocity, d.headingVelocity, d.bankVelocity, d.groundSpeed, d.noseWheelAngle, d.qnh,
                   d.temperatureError, c.flapsRatio, c.speedbrakeRatio)) {
        velk::fuzz::fail("a record value is not finite");
    }
    return 0;
}
