#include "ui/viewmodel/MessageRecord.h"

namespace velk::ui {

namespace {

const QString kId = QStringLiteral("id");
const QString kTime = QStringLiteral("time");
const QString kTimestamp = QStringLiteral("timestamp");
const QString kType = QStringLiteral("type");
const QString kDirection = QStringLiteral("direction");
const QString kDirectionLabel = QStringLiteral("directionLabel");
const QString kChannel = QStringLiteral("channel");
const QString kFrom = QStringLiteral("from");
const QString kTo = QStringLiteral("to");
const QString kMessage = QStringLiteral("message");
const QString kMeta = QStringLiteral("meta");
const QString kFrequencies = QStringLiteral("frequencies");
const QString kIsDirect = QStringLiteral("isDirect");
const QString kPriority = QStringLiteral("priority");
const QString kUnread = QStringLiteral("unread");

QString directionLabel(const QString& direction) {
    if (direction == QLatin1String("out")) {
        return QStringLiteral("已发送");
    }
    if (direction == QLatin1String("system")) {
        return QStringLiteral("系统");
    }
    return QStringLiteral("收到");
}

} // namespace

bool MessageRecord::isPrivate() const {
    return type == QLatin1String("private_in") || type == QLatin1String("private_out");
}

QVariantMap MessageRecord::toMap() const {
    return QVariantMap{
        {kId, id},
        {kTime, time},
        {kTimestamp, timestamp},
        {kType, type},
        {kDirection, direction},
        {kDirectionLabel, directionLabel(direction)},
        {kChannel, channel},
        {kFrom, from},
        {kTo, to},
        {kMessage, message},
        {kMeta, meta},
        {kFrequencies, frequencies},
        {kIsDirect, isDirect},
        {kPriority, priority},
        {kUnread, unread},
    };
}

} // namespace velk::ui
