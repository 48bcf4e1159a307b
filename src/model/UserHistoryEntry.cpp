#include "model/UserHistoryEntry.h"

#include "model/UserJson.h"

namespace velk::model {

UserHistoryEntry UserHistoryEntry::fromJson(const QJsonObject& object) {
    UserHistoryEntry entry;
    entry.callsign = object.value(QStringLiteral("callsign")).toString();
    entry.start_time = json::toDateTime(object.value(QStringLiteral("start_time")));
    entry.end_time = json::toDateTime(object.value(QStringLiteral("end_time")));
    entry.online_time = json::toSeconds(object.value(QStringLiteral("online_time")));
    return entry;
}

} // namespace velk::model
