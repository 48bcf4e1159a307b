#include "manager/RemoteAircraft.h"

namespace velk::manager {

bool RemoteAircraft::applyConfiguration(const model::AircraftConfig& received) {
    if (received.isFull()) {
        config = received;
        hasConfig = true;
        return true;
    }
    if (!hasConfig) {
        return false;
    }
    config.merge(received);
    return true;
}

bool RemoteAircraft::operator==(const RemoteAircraft& other) const {
    return callsign == other.callsign && airline == other.airline && livery == other.livery &&
           modelHint == other.modelHint && equipment == other.equipment && visualState == other.visualState &&
           lastUpdate == other.lastUpdate && simState == other.simState &&
           hasFastUpdates == other.hasFastUpdates && groundSpeed == other.groundSpeed;
}

} // namespace velk::manager
