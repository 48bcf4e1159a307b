#include "voice/VoicePacket.h"

#include <stdexcept>

namespace velk::voice {

namespace {

void appendLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint32_t readLittleEndian(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::optional<VoicePacket> fail(VoiceDecodeError reason, VoiceDecodeError* error) {
    if (error) {
        *error = reason;
    }
    return std::nullopt;
}

constexpr std::size_t kHeaderSize = 10;

} // namespace

const char* voiceDecodeErrorText(VoiceDecodeError error) {
    switch (error) {
    case VoiceDecodeError::None:
        return "no error";
    case VoiceDecodeError::Empty:
        return "empty datagram";
    case VoiceDecodeError::TooShort:
        return "datagram too short";
    case VoiceDecodeError::NoEndMarker:
        return "missing end marker";
    case VoiceDecodeError::CallsignTooLong:
        return "callsign length past the end";
    case VoiceDecodeError::PayloadTooLarge:
        return "voice payload too large";
    }
    return "unknown error";
}

std::vector<std::uint8_t> encodeVoicePacket(std::uint32_t cid, std::int32_t transmitter,
                                            std::int32_t frequency, const std::string& callsign,
                                            const std::vector<std::uint8_t>& audio) {
    if (callsign.size() > kMaxVoiceCallsign) {
        throw std::invalid_argument("Callsign too long");
    }
    if (frequency >= kVoiceFrequencyLimit) {
        throw std::invalid_argument("Frequency too large");
    }
    if (transmitter >= 255) {
        throw std::invalid_argument("Transmitter ID too large");
    }
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + 1 + callsign.size() + audio.size());
    appendLittleEndian(out, cid);
    out.push_back(static_cast<std::uint8_t>(transmitter));
    appendLittleEndian(out, static_cast<std::uint32_t>(frequency));
    out.push_back(static_cast<std::uint8_t>(callsign.size()));
    out.insert(out.end(), callsign.begin(), callsign.end());
    out.insert(out.end(), audio.begin(), audio.end());
    out.push_back(kVoicePacketEnd);
    return out;
}

std::optional<VoicePacket> decodeVoicePacket(const std::uint8_t* data, std::size_t length,
                                             VoiceDecodeError* error) {
    if (length == 0) {
        return fail(VoiceDecodeError::Empty, error);
    }
    if (length <= kHeaderSize) {
        return fail(VoiceDecodeError::TooShort, error);
    }
    if (data[length - 1] != kVoicePacketEnd) {
        return fail(VoiceDecodeError::NoEndMarker, error);
    }
    const std::size_t nameLength = data[9];
    const std::size_t end = length - 1;
    // 255 is beyond the field's range: no sender writes it.
    if (nameLength > kMaxVoiceCallsign || kHeaderSize + nameLength > end) {
        return fail(VoiceDecodeError::CallsignTooLong, error);
    }
    if (end - kHeaderSize - nameLength > kMaxVoicePayload) {
        return fail(VoiceDecodeError::PayloadTooLarge, error);
    }
    VoicePacket packet;
    packet.cid = readLittleEndian(data);
    packet.transmitter = static_cast<std::int8_t>(data[4]);
    packet.frequency = static_cast<std::int32_t>(readLittleEndian(data + 5));
    packet.callsign.assign(reinterpret_cast<const char*>(data + kHeaderSize), nameLength);
    packet.audio.assign(data + kHeaderSize + nameLength, data + end);
    if (error) {
        *error = VoiceDecodeError::None;
    }
    return packet;
}

} // namespace velk::voice
