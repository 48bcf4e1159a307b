#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace velk::model {

// One online session of the account, as pilot or as controller.
struct UserHistoryEntry {
    QString callsign;
    QDateTime start_time;    // invalid when absent
    QDateTime end_time;      // invalid when absent (still online)
    quint64 online_time = 0; // seconds

    static UserHistoryEntry fromJson(const QJsonObject& object);
};

} // namespace velk::model
