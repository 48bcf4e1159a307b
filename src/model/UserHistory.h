#pragma once

#include "model/UserHistoryEntry.h"

#include <QJsonObject>
#include <QList>
#include <QMetaType>

namespace velk::model {

// The account's recent sessions, newest first as the web API sends them.
struct UserHistory {
    QList<UserHistoryEntry> pilots;
    QList<UserHistoryEntry> controllers;

    // Elements that are not objects are skipped.
    static UserHistory fromJson(const QJsonObject& object);
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::UserHistory)
