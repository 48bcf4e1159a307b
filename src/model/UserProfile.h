#pragma once

#include <QJsonObject>
#include <QMetaType>

namespace velk::model {

// The account's totals on the network.
struct UserProfile {
    quint64 total_pilot_time = 0; // seconds
    quint64 total_atc_time = 0;   // seconds

    static UserProfile fromJson(const QJsonObject& object);
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::UserProfile)
