#include "model/User.h"

#include "model/UserJson.h"

namespace velk::model {

User User::fromJson(const QJsonObject& object) {
    User user;
    user.username = object.value(QStringLiteral("username")).toString();
    user.cid = json::toInt(object.value(QStringLiteral("cid")));
    user.avatar_url = object.value(QStringLiteral("avatar_url")).toString();
    user.rating = json::toInt(object.value(QStringLiteral("rating")));
    return user;
}

} // namespace velk::model
