#pragma once

#include <QMetaType>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velk::voice {

// One voice datagram: who sent it, on which transmitter and frequency, and
// one Opus packet.
struct VoicePacket {
    std::uint32_t cid = 0;
    std::int32_t transmitter = 0; // one byte on the wire, read as signed
    std::int32_t frequency = 0;   // kHz
    std::string callsign;         // UTF-8
    std::vector<std::uint8_t> audio;

    bool operator==(const VoicePacket&) const = default;
};

// Largest Opus packet the codec produces; anything longer is not voice.
inline constexpr std::size_t kMaxVoicePayload = 4000;
// Longest callsign the one-byte length field carries.
inline constexpr std::size_t kMaxVoiceCallsign = 254;
// Frequencies are kHz below this bound.
inline constexpr std::int32_t kVoiceFrequencyLimit = 200000;
// Byte that ends every voice datagram.
inline constexpr std::uint8_t kVoicePacketEnd = 0x0A;

// Why a datagram did not decode.
enum class VoiceDecodeError : std::uint8_t {
    None,
    Empty,
    TooShort,        // shorter than the 10-byte header and the end marker
    NoEndMarker,     // last byte is not 0x0A
    CallsignTooLong, // length 255, or reaching past the end marker
    PayloadTooLarge, // more than kMaxVoicePayload bytes of audio
};

const char* voiceDecodeErrorText(VoiceDecodeError error);

// Layout, little-endian: cid u32, transmitter (1 byte), frequency i32,
// callsign length N, N callsign bytes, the Opus bytes, 0x0A. Throws
// std::invalid_argument for a callsign of 255 bytes or more, a frequency of
// 200000 or more, or a transmitter of 255 or more.
std::vector<std::uint8_t> encodeVoicePacket(std::uint32_t cid, std::int32_t transmitter,
                                            std::int32_t frequency, const std::string& callsign,
                                            const std::vector<std::uint8_t>& audio);

// Pure function over the received bytes; no packet for a malformed datagram,
// with the reason in `error` when given.
std::optional<VoicePacket> decodeVoicePacket(const std::uint8_t* data, std::size_t length,
                                             VoiceDecodeError* error = nullptr);

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::VoicePacket)
