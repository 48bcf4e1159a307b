#include "model/UserHistory.h"

#include <QJsonArray>

namespace velk::model {

namespace {

QList<UserHistoryEntry> entries(const QJsonValue& value) {
    QList<UserHistoryEntry> list;
    const QJsonArray array = value.toArray();
    for (const QJsonValue& element : array) {
        if (element.isObject()) {
            list.append(UserHistoryEntry::fromJson(element.toObject()));
        }
    }
    return list;
}

} // namespace

UserHistory UserHistory::fromJson(const QJsonObject& object) {
    UserHistory history;
    history.pilots = entries(object.value(QStringLiteral("pilots")));
    history.controllers = entries(object.value(QStringLiteral("controllers")));
    return history;
}

} // namespace velk::model
