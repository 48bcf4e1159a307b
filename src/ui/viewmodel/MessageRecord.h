#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace velk::ui {

// One entry of the message centre. Outgoing texts are told apart by
// `direction` "out", never by the sender's text.
struct MessageRecord {
    int id = 0;
    QString time;         // local "hh:mm:ss"
    qint64 timestamp = 0; // UTC milliseconds since the epoch
    QString type;
    QString direction; // "in", "out" or "system"
    QString channel;   // channel or conversation key
    QString from;
    QString to;
    QString message;
    QString meta;
    QStringList frequencies;
    bool isDirect = false;
    int priority = 0;
    bool unread = false;

    bool isPrivate() const;
    // The fifteen keys the page reads.
    QVariantMap toMap() const;
};

} // namespace velk::ui
