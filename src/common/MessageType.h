#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace velk::common {

// Kind of a notice or message; selects the colour of a notice in the simulator.
enum class MessageType : int {
    Server = 0,
    IncomingPrivate = 1,
    OutgoingPrivate = 2,
    TextOverride = 3,
    IncomingRadioPrimary = 4,
    IncomingRadioSecondary = 5,
    OutgoingRadio = 6,
    Broadcast = 7,
    Wallop = 8,
    Info = 9,
    Error = 10,
};

// 0xRRGGBB colour of a notice of this type; unknown values are yellow.
qint64 messageTypeColor(MessageType type);

} // namespace velk::common

Q_DECLARE_METATYPE(velk::common::MessageType)
