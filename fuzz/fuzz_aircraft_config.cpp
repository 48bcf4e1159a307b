// Aircraft-configuration JSON: any text parses into a message, and writing
// that message and reading it back gives the same text (toJson is a fixpoint).
#include "FuzzSupport.h"
#include "model/AircraftConfig.h"

using velk::model::AircraftConfigMessage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(velk::fuzz::bytesOf(data, size));
    const AircraftConfigMessage message = AircraftConfigMessage::fromJson(text);
    const QString once = message.toJson();
    const QString twice = AircraftConfigMessage::fromJson(once).toJson();
    if (once != twice) {
        velk::fuzz::fail("toJson is not a fixpoint:", once + QStringLiteral(" -> ") + twice);
    }
    return 0;
}
