#include "model/UserProfile.h"

#include "model/UserJson.h"

namespace velk::model {

UserProfile UserProfile::fromJson(const QJsonObject& object) {
    UserProfile profile;
    profile.total_pilot_time = json::toSeconds(object.value(QStringLiteral("total_pilot_time")));
    profile.total_atc_time = json::toSeconds(object.value(QStringLiteral("total_atc_time")));
    return profile;
}

} // namespace velk::model
