// Voice datagrams: any bytes either decode or are refused, and a packet that
// decodes and can be sent again is written back byte for byte.
#include "FuzzSupport.h"
#include "voice/VoicePacket.h"

#include <stdexcept>

using namespace velk;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    voice::VoiceDecodeError error = voice::VoiceDecodeError::None;
    const std::optional<voice::VoicePacket> packet = voice::decodeVoicePacket(data, size, &error);
    if (!packet) {
        if (error == voice::VoiceDecodeError::None) {
            fuzz::fail("refused without a reason");
        }
        return 0;
    }
    if (packet->audio.size() > voice::kMaxVoicePayload ||
        packet->callsign.size() > voice::kMaxVoiceCallsign) {
        fuzz::fail("decoded past a wire limit");
    }
    std::vector<std::uint8_t> again;
    try {
        again = voice::encodeVoicePacket(packet->cid, packet->transmitter, packet->frequency,
                                         packet->callsign, packet->audio);
    } catch (const std::invalid_argument&) {
        return 0; // received fine, but not a packet this client would send
    }
    if (again != std::vector<std::uint8_t>(data, data + size)) {
        fuzz::fail("re-encoded datagram differs");
    }
    return 0;
}
