#include "common/MessageType.h"

namespace velk::common {

qint64 messageTypeColor(MessageType type) {
    switch (type) {
    case MessageType::Server: return 0x85A664;
    case MessageType::IncomingPrivate: return 0x00FFFF;
    case MessageType::OutgoingPrivate: return 0xC0C0C0;
    case MessageType::TextOverride: return 0xCD5C5C;
    case MessageType::IncomingRadioPrimary: return 0xFFFFFF;
    case MessageType::IncomingRadioSecondary: return 0xC0C0C0;
    case MessageType::OutgoingRadio: return 0x00FFFF;
    case MessageType::Broadcast: return 0xFFA500;
    case MessageType::Wallop: return 0xFF0000;
    case MessageType::Info: return 0xFFFF00;
    case MessageType::Error: return 0xFF0000;
    }
    return 0xFFFF00;
}

} // namespace velk::common
