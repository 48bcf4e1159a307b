#pragma once

#include "model/AircraftState.h"

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <array>
#include <optional>

namespace velk::model {

// An aircraft's visible configuration as pilots exchange it. Every member is
// optional: an absent member is one this configuration does not carry.
struct AircraftConfig {
    struct Lights {
        std::optional<bool> strobeOn;
        std::optional<bool> landingOn;
        std::optional<bool> taxiOn;
        std::optional<bool> beaconOn;
        std::optional<bool> navOn;

        bool anyPresent() const;
        bool operator==(const Lights&) const = default;
    };

    struct Engines {
        // Index 0 is engine 1.
        std::array<std::optional<bool>, 4> on;
        std::array<std::optional<bool>, 4> isReversing;

        bool anyPresent() const;
        bool operator==(const Engines&) const = default;
    };

    std::optional<bool> isFullData;
    std::optional<Lights> lights = Lights{};
    std::optional<Engines> engines = Engines{};
    std::optional<bool> gearDown;
    std::optional<qint32> flapsPct;
    std::optional<bool> spoilersOut;
    std::optional<bool> onGround;

    // Every member the simulator provides, present; isFullData absent.
    static AircraftConfig fromUserAircraftConfigData(const UserAircraftConfigData& data);
    // The increment from `last` to `current`: members that `current` has and
    // `last` lacks or holds with another value.
    static AircraftConfig diff(const AircraftConfig& last, const AircraftConfig& current);

    // Takes every member the increment carries, lights and engines one by one;
    // the others, and isFullData, stay.
    void merge(const AircraftConfig& increment);

    // Whether any member other than isFullData differs in presence or value.
    bool differsFrom(const AircraftConfig& other) const;
    // True when isFullData is present and true.
    bool isFull() const { return isFullData.value_or(false); }
    // No member present (the groups may exist, but empty).
    bool isEmpty() const;

    // The "config" object: present members only.
    QJsonObject toJson() const;
    static AircraftConfig fromJson(const QJsonObject& object);

    bool operator==(const AircraftConfig&) const = default;
};

// The JSON text carried in an ACC client query.
struct AircraftConfigMessage {
    std::optional<bool> requestFull;
    std::optional<AircraftConfig> config = AircraftConfig{};

    // Compact JSON text: {"request":"full"}, {"config":{...}} or {}.
    QString toJson() const;
    // Never fails: anything unreadable gives a message with an empty config.
    static AircraftConfigMessage fromJson(const QString& text);

    bool operator==(const AircraftConfigMessage&) const = default;
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::AircraftConfig)
Q_DECLARE_METATYPE(velk::model::AircraftConfigMessage)
