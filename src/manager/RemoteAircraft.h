#pragma once

#include "model/AircraftConfig.h"
#include "model/AircraftState.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <algorithm>
#include <utility>
#include <vector>

namespace velk::manager {

// One other pilot as the client shows it in the simulator.
struct RemoteAircraft {
    enum class SimState : quint8 {
        NotInSimulator = 0,
        InSimulator = 1,
        AddRequested = 3, // asked the back end to add it; waiting for aircraftAddedToSim
    };

    // A pilot silent this long is stale in both pilot tables; 15000 ms is still fresh.
    static constexpr qint64 StaleAfterMs = 15001;

    QString callsign; // as received; the key of every look-up
    QString airline;
    QString livery;
    QString modelHint; // model name announced by the pilot's own client
    QString equipment; // aircraft type code; never put into the simulator while empty
    model::AircraftVisualState visualState;
    model::AircraftConfig config;
    bool hasConfig = false; // a full configuration has been received
    QDateTime lastUpdate;   // UTC, last slow or fast position
    // The remote aircraft table's last add; null until it asks one, and again
    // once the simulator is lost, so that no earlier answer counts as its own.
    QDateTime addRequestedAt;
    SimState simState = SimState::NotInSimulator;
    bool hasFastUpdates = false;
    double groundSpeed = 0.0; // knots
    // A position has arrived: only then is the pilot put into the simulator.
    bool hasPosition = false;
    // Asked out of the simulator, departed or silent, and not asked in since:
    // the record stays only until the back end confirms the removal.
    bool removalAsked = false;

    // Takes a received configuration: a full one replaces what is held; an
    // increment is merged once a full one is held and dropped before (false).
    bool applyConfiguration(const model::AircraftConfig& received);

    // Compares identity, pose, timing and sim state; config, hasConfig and
    // addRequestedAt take no part.
    bool operator==(const RemoteAircraft& other) const;
};

// The records a table of remote pilots holding `cap` drops before it takes
// one more: the least recently heard tenth of `cap` at once, so that a flood
// of new callsigns costs one pass per tenth rather than one per callsign.
// `byAge` pairs every record's last update (ms since the epoch) with its key.
template <class Key>
std::vector<Key> leastRecentlyHeardToDrop(std::vector<std::pair<qint64, Key>> byAge, qsizetype cap) {
    std::vector<Key> keys;
    const auto size = static_cast<qsizetype>(byAge.size());
    if (size < cap) {
        return keys;
    }
    const auto drop = static_cast<std::ptrdiff_t>(size - cap + std::max<qsizetype>(cap / 10, 1));
    std::nth_element(byAge.begin(), byAge.begin() + drop - 1, byAge.end());
    keys.reserve(static_cast<size_t>(drop));
    for (auto i = byAge.begin(); i != byAge.begin() + drop; ++i) {
        keys.push_back(std::move(i->second));
    }
    return keys;
}

} // namespace velk::manager

Q_DECLARE_METATYPE(velk::manager::RemoteAircraft)
