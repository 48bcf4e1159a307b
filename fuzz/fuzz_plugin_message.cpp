// Plug-in MessagePack messages: any bytes are decoded or dropped, and every
// decoded envelope is handled by the X-Plane back end without harm.
#include "FuzzSupport.h"
#include "simulator/xplane/PluginProtocol.h"
#include "simulator/xplane/XPlaneAdapter.h"

#include <memory>

namespace xp = velk::simulator::xplane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk::fuzz::initQt();
    static std::unique_ptr<xp::XPlaneAdapter> adapter = [] {
        xp::XPlaneAdapter::Options options;
        options.startTimers = false; // no socket: only the message handling runs
        return std::make_unique<xp::XPlaneAdapter>(options);
    }();
    const std::optional<xp::PluginMessage> message =
        xp::decodePluginMessage(reinterpret_cast<const char*>(data), size);
    if (message) {
        adapter->handleNngMessage(*message);
        QCoreApplication::sendPostedEvents();
    }
    return 0;
}
